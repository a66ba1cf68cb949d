#pragma once

#include <QWidget>

class AppModel;
class QLabel;

/// The strip above the library after a sync that found apps gone since the one before: how many,
/// a button that queues them and one that hides the strip.
class RadarBanner : public QWidget {
    Q_OBJECT
public:
    explicit RadarBanner(AppModel* model, QWidget* parent = nullptr);

    /// "5 приложений пропали из App Store".
    static QString title(qsizetype count);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppModel* m_model;
    QLabel* m_title;
};
