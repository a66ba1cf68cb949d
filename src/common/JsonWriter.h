#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringView>

/// Writes compact JSON (RFC 8259) straight into one buffer, for the cache files that hold
/// thousands of records and were slow to build through QJsonObject. Strings come out as UTF-8
/// with only what must be escaped escaped; integers keep all 64 bits; a NaN or an infinity is
/// written as null, since JSON has no spelling for them. The caller keeps the nesting balanced.
class JsonWriter {
public:
    explicit JsonWriter(qsizetype expectedBytes = 0);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    void key(QLatin1String name);
    void key(QStringView name);

    void value(QStringView text);
    void value(QLatin1String text);
    void value(qint64 number);
    void value(int number) { value(qint64(number)); }
    void value(double number);
    void value(bool flag);
    void null();

    template <typename T>
    void field(QLatin1String name, const T& content)
    {
        key(name);
        value(content);
    }

    /// The text written so far; the writer is empty afterwards.
    QByteArray take();

private:
    void separate();
    void open(char bracket);
    void close(char bracket);
    void string(QStringView text);
    void string(QLatin1String text);

    QByteArray m_out;
    bool m_needsComma = false;
};
