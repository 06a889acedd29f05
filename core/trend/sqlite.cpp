#include "sqlite.h"

#include <sqlite3.h>

namespace qeln::trend::sql {

Db::~Db()
{
    if (db_)
        sqlite3_close_v2(db_);
}

void Db::fail(int code)
{
    code_ = code;
    const int primary = code & 0xff;
    diskProblem_ = primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_READONLY
                   || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM;
    error_ = QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
}

bool Db::open(const QString &path, bool create, bool readOnly)
{
    int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (create && !readOnly)
        flags |= SQLITE_OPEN_CREATE;
    flags |= SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        fail(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    // A reader meets a writer's checkpoint now and then: wait for it rather than fail.
    sqlite3_busy_timeout(db_, 2000);
    return true;
}

bool Db::exec(const char *sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        fail(rc);
        if (message)
            error_ = QString::fromUtf8(message);
        sqlite3_free(message);
        return false;
    }
    return true;
}

int Db::changes() const
{
    return db_ ? sqlite3_changes(db_) : 0;
}

bool Db::autocommit() const
{
    return !db_ || sqlite3_get_autocommit(db_);
}

std::int64_t Db::integer(const char *sql, std::int64_t fallback)
{
    Stmt st(*this, sql);
    return st.step() ? st.integer(0) : fallback;
}

void Db::rollbackQuietly()
{
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

Stmt::Stmt(Db &db, const char *sql)
    : db_(&db)
{
    const int rc = sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
    if (rc != SQLITE_OK) {
        db.fail(rc);
        st_ = nullptr;
        ok_ = false;
    }
}

Stmt::~Stmt()
{
    sqlite3_finalize(st_);
}

Stmt &Stmt::operator=(Stmt &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(st_);
        db_ = other.db_;
        st_ = std::exchange(other.st_, nullptr);
        ok_ = other.ok_;
    }
    return *this;
}

Stmt &Stmt::bind(int index, std::int64_t value)
{
    sqlite3_bind_int64(st_, index, value);
    return *this;
}

Stmt &Stmt::bind(int index, double value)
{
    sqlite3_bind_double(st_, index, value);
    return *this;
}

Stmt &Stmt::bind(int index, const QByteArray &blob)
{
    sqlite3_bind_blob(st_, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
    return *this;
}

Stmt &Stmt::bindText(int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Stmt::step()
{
    if (!st_)
        return false;
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        ok_ = false;
        db_->fail(rc);
    }
    return false;
}

bool Stmt::run()
{
    ok_ = st_ != nullptr;
    while (step()) {
    }
    const bool good = ok_;
    reset();
    return good;
}

void Stmt::reset()
{
    if (!st_)
        return;
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
    ok_ = true;
}

std::int64_t Stmt::integer(int column) const
{
    return sqlite3_column_int64(st_, column);
}

double Stmt::real(int column) const
{
    return sqlite3_column_double(st_, column);
}

bool Stmt::isNull(int column) const
{
    return sqlite3_column_type(st_, column) == SQLITE_NULL;
}

QByteArray Stmt::blob(int column) const
{
    const void *data = sqlite3_column_blob(st_, column);
    const int size = sqlite3_column_bytes(st_, column);
    return QByteArray(static_cast<const char *>(data), size);
}

QString Stmt::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(st_, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(st_, column));
}

ReadTransaction::ReadTransaction(Db &db)
    : db_(db)
{
    if (!db_.handle() || !db_.autocommit())
        return;
    // The snapshot is taken by the first read, made here so that it is the moment this began.
    begun_ = db_.exec("BEGIN DEFERRED");
    if (begun_)
        sqlite3_exec(db_.handle(), "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr);
}

ReadTransaction::~ReadTransaction()
{
    if (begun_ && !db_.autocommit())
        sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr);
}

Transaction::Transaction(Db &db)
    : db_(db)
{
    begun_ = db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (begun_ && !done_)
        db_.rollbackQuietly();
}

bool Transaction::commit()
{
    if (!begun_ || done_)
        return false;
    done_ = true;
    if (db_.exec("COMMIT"))
        return true;
    db_.rollbackQuietly();
    return false;
}

} // namespace qeln::trend::sql
