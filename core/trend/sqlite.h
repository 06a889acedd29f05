#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace qeln::trend::sql {

// A connection to one SQLite file, closed with the object.
class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    // Opens (and with `create`, makes) the file; false with error() set otherwise.
    bool open(const QString &path, bool create, bool readOnly);
    // Runs statements without results; false with error() set on failure.
    bool exec(const char *sql);
    // Ends an open transaction without a word: the failure that led here stays in error().
    void rollbackQuietly();
    QString error() const { return error_; }
    // The last failure was the disk being full or the file not being writable.
    bool lastWasDiskProblem() const { return diskProblem_; }
    // The SQLite result code of the last failure (primary code in the low byte).
    int lastCode() const { return code_; }
    void fail(int code);
    sqlite3 *handle() const { return db_; }
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;
    // No transaction is open.
    bool autocommit() const;
    // Runs a statement with one integer result (a pragma, a count); `fallback` when it fails.
    std::int64_t integer(const char *sql, std::int64_t fallback = -1);

private:
    sqlite3 *db_ = nullptr;
    QString error_;
    bool diskProblem_ = false;
    int code_ = 0;
};

// One prepared statement, reset before each use.
class Stmt {
public:
    Stmt() = default;
    Stmt(Db &db, const char *sql);
    ~Stmt();
    Stmt(Stmt &&other) noexcept : db_(other.db_), st_(std::exchange(other.st_, nullptr)) {}
    Stmt &operator=(Stmt &&other) noexcept;
    Stmt(const Stmt &) = delete;

    bool valid() const { return st_ != nullptr; }
    Stmt &bind(int index, std::int64_t value);
    Stmt &bind(int index, double value);
    Stmt &bind(int index, const QByteArray &blob);
    Stmt &bindText(int index, const QString &text);
    // Steps once: true while a row is there; false at the end or on an error (ok() tells).
    bool step();
    // Runs a statement without results to its end.
    bool run();
    bool ok() const { return ok_; }
    void reset();

    std::int64_t integer(int column) const;
    double real(int column) const;
    bool isNull(int column) const;
    QByteArray blob(int column) const;
    QString text(int column) const;

private:
    Db *db_ = nullptr;
    sqlite3_stmt *st_ = nullptr;
    bool ok_ = true;
};

// A read transaction: every statement inside it reads the same snapshot of the file. Inside
// another transaction (read or write) it adds nothing.
class ReadTransaction {
public:
    explicit ReadTransaction(Db &db);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    Db &db_;
    bool begun_ = false;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(Db &db);
    ~Transaction();
    bool begun() const { return begun_; }
    bool commit();

private:
    Db &db_;
    bool begun_ = false;
    bool done_ = false;
};

} // namespace qeln::trend::sql
