#include "ui/Icons.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

// The pictures live in the interface library, which is static: its resources must be pulled in by hand.
static void loadIconResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

const QHash<QString, QString>& files()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("square.grid.2x2"), QStringLiteral("grid")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("history")},
        {QStringLiteral("iphone.gen3"), QStringLiteral("phone")},
        {QStringLiteral("shippingbox"), QStringLiteral("box")},
        {QStringLiteral("shippingbox.fill"), QStringLiteral("box-filled")},
        {QStringLiteral("list.bullet.rectangle"), QStringLiteral("log")},
        {QStringLiteral("number"), QStringLiteral("number")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("person")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("more")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("search")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("arrow.down.circle.fill"), QStringLiteral("downloaded")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("done")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("warning")},
        {QStringLiteral("applelogo"), QStringLiteral("account")},
        {QStringLiteral("cable.connector.slash"), QStringLiteral("unplugged")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("question")},
        {QStringLiteral("plus"), QStringLiteral("plus")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("update")},
    };
    return table;
}

QString resourcePath(const QString& symbol)
{
    static const bool loaded = (loadIconResources(), true);
    Q_UNUSED(loaded);
    const QString file = files().value(symbol);
    return file.isEmpty() ? QString() : QStringLiteral(":/icons/") + file + QStringLiteral(".svg");
}

QPixmap render(const QString& symbol, QSize size, const QColor& tint, qreal ratio)
{
    const QString key = QStringLiteral("icon:%1:%2x%3@%4:%5")
                            .arg(symbol)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(ratio)
                            .arg(tint.rgba());
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(symbol));
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    // The drawings are black ink on clear, with white marks cut into filled shapes: ink takes the
    // tint and white becomes a hole, so one file serves every colour.
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb color = tint.rgb();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(line[x]) * (255 - qGray(line[x])) / 255 * tint.alpha() / 255;
            line[x] = qRgba(qRed(color), qGreen(color), qBlue(color), alpha);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

/// Draws at whatever size and state the widget asks for, so one icon serves every button.
class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString symbol, QColor tint)
        : m_symbol(std::move(symbol))
        , m_tint(std::move(tint))
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state, ratio));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return pixmap(size, mode, state, 1.0);
    }

    QIconEngine* clone() const override { return new SymbolEngine(m_symbol, m_tint); }

private:
    QPixmap pixmap(QSize size, QIcon::Mode mode, QIcon::State, qreal ratio) const
    {
        const QPalette palette = QApplication::palette();
        QColor color = m_tint.isValid() ? m_tint : palette.color(QPalette::WindowText);
        if (mode == QIcon::Disabled)
            color = palette.color(QPalette::Disabled, QPalette::WindowText);
        else if (mode == QIcon::Selected && !m_tint.isValid())
            color = palette.color(QPalette::HighlightedText);
        return render(m_symbol, size, color, ratio);
    }

    QString m_symbol;
    QColor m_tint;
};

} // namespace

namespace Icons {

QIcon icon(const QString& symbol, const QColor& tint)
{
    return QIcon(new SymbolEngine(symbol, tint));
}

QPixmap pixmap(const QString& symbol, int side, const QColor& tint, qreal devicePixelRatio)
{
    return render(symbol, QSize(side, side), tint, devicePixelRatio);
}

QStringList symbols()
{
    return files().keys();
}

} // namespace Icons
