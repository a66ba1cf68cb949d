#include "update/UpdateInfo.h"

#include "common/JsonRead.h"
#include "common/RussianText.h"

#include <QRegularExpression>

#include <cmath>

namespace {

// A download address or a web page: anything without a scheme cannot be fetched or opened.
std::optional<QUrl> absoluteUrl(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

qint64 wholeSize(const std::optional<double>& number)
{
    if (!number || !std::isfinite(*number) || *number <= -9223372036854775808.0 || *number >= 9223372036854775808.0)
        return 0;
    return static_cast<qint64>(*number);
}

} // namespace

QString UpdateInfo::sizeText() const
{
    // Desktops count file sizes in powers of 1000.
    return RussianText::size(size, QLocale::DataSizeSIFormat);
}

std::optional<UpdateInfo> UpdateInfo::fromManifest(const QByteArray& body)
{
    const auto manifest = JsonRead::object(body);
    if (!manifest)
        return std::nullopt;

    UpdateInfo info;
    const auto version = JsonRead::string(*manifest, QLatin1String("version"));
    if (!version)
        return std::nullopt;
    info.version = *version;
    const auto build = JsonRead::integer(*manifest, QLatin1String("build"));
    if (!build)
        return std::nullopt;
    info.build = *build;
    const auto url = absoluteUrl(JsonRead::string(*manifest, QLatin1String("url")));
    if (!url)
        return std::nullopt;
    info.url = *url;
    const auto sha256 = JsonRead::string(*manifest, QLatin1String("sha256"));
    if (!sha256)
        return std::nullopt;
    info.sha256 = sha256->toLower();

    info.signature = JsonRead::string(*manifest, QLatin1String("signature")).value_or(QString());
    info.notes = JsonRead::string(*manifest, QLatin1String("notes")).value_or(QString());
    if (const auto date = JsonRead::string(*manifest, QLatin1String("date")))
        info.date = parseDate(*date);
    info.size = wholeSize(JsonRead::number(*manifest, QLatin1String("size")));
    info.pageURL = absoluteUrl(JsonRead::string(*manifest, QLatin1String("page")));
    return info;
}

std::optional<QDateTime> UpdateInfo::parseDate(const QString& text)
{
    // Qt's ISO reader also takes dates without a time, fractions and missing zones; the manifest may not.
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(Z|[+-]\\d{2}:\\d{2})$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date;
}
