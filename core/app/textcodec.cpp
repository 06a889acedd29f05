#include "textcodec.h"

#include <QLoggingCategory>
#include <QTextCodec>

Q_LOGGING_CATEGORY(lcTextCodec, "qeln.text")

namespace qeln::textcodec {

namespace {

// Qt knows the code page as "CP949" (upper case); "cp949" and "UHC" are not registered.
QTextCodec *cp949()
{
    static QTextCodec *const codec = [] {
        QTextCodec *c = QTextCodec::codecForName("CP949");
        if (!c)
            qCWarning(lcTextCodec, "no CP949 codec: only ASCII can be written");
        return c;
    }();
    return codec;
}

// A lone surrogate has no encoding in any code page. The codec would keep a trailing high
// surrogate back as "pending" and report nothing, so lone ones are found here and replaced
// by '?' before the codec sees the text.
QString withoutLoneSurrogates(const QString &text, int &replaced)
{
    replaced = 0;
    QString out;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            if (!out.isNull()) {
                out += c;
                out += text.at(i + 1);
            }
            ++i;
            continue;
        }
        if (c.isSurrogate()) {
            if (out.isNull())
                out = text.left(i);
            out += QLatin1Char('?');
            ++replaced;
            continue;
        }
        if (!out.isNull())
            out += c;
    }
    return out.isNull() ? text : out;
}

} // namespace

QByteArray toCp949(const QString &text, bool *ok)
{
    int invalid = 0;
    const QString clean = withoutLoneSurrogates(text, invalid);
    QByteArray bytes;
    if (QTextCodec *codec = cp949()) {
        QTextCodec::ConverterState state; // unencodable characters become '?', and are counted
        bytes = codec->fromUnicode(clean.constData(), int(clean.size()), &state);
        invalid += state.invalidChars;
    } else {
        bytes.reserve(clean.size());
        for (const QChar c : clean) {
            if (c.unicode() < 0x80) {
                bytes += char(c.unicode());
            } else {
                bytes += '?';
                if (!c.isLowSurrogate()) // a pair counts once
                    ++invalid;
            }
        }
    }
    if (ok)
        *ok = invalid == 0;
    return bytes;
}

bool canEncodeCp949(const QString &text)
{
    bool ok = false;
    toCp949(text, &ok);
    return ok;
}

QString fromCp949(const QByteArray &bytes)
{
    QTextCodec *codec = cp949();
    if (!codec) {
        QString out;
        out.reserve(bytes.size());
        for (const char b : bytes)
            out += uchar(b) < 0x80 ? QChar(QLatin1Char(b)) : QChar(QChar::ReplacementCharacter);
        return out;
    }
    // The codec silently drops a lead byte cut off at the end of its input. A line feed
    // behind the bytes makes such a byte an invalid pair, which it does replace; the line
    // feed itself always comes back as the last character.
    QString text = codec->toUnicode(bytes + '\n');
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

QByteArray toUtf8(const QString &text)
{
    return text.toUtf8();
}

QString fromUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace qeln::textcodec
