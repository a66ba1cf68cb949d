#pragma once

#include <QPushButton>

class Spinner;

/// A push button filled with the accent colour: the one main action of a view or sheet.
class ProminentButton : public QPushButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);

    /// Shows a small spinner in place of the text; the text itself is kept.
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeSpinner();

    Spinner* m_spinner;
    bool m_busy = false;
};
