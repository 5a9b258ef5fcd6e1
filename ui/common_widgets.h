#pragma once

#include "ui/symbols.h"

#include <QLabel>
#include <QToolButton>
#include <QWidget>

namespace quill {

/// A centred placeholder: a large symbol, a title and a detail line.
class EmptyStateView : public QWidget {
    Q_OBJECT

public:
    EmptyStateView(const QString &title, Symbol systemImage, const QString &detail, QWidget *parent = nullptr);

    QString title() const { return m_title->text(); }
    QString detail() const { return m_detail->text(); }
    Symbol systemImage() const { return m_symbol; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void updateIcon();

    Symbol m_symbol;
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_detail;
};

/// The locked client: shown instead of the composer and the notes while there is no API key.
class LockedClientView : public EmptyStateView {
    Q_OBJECT

public:
    explicit LockedClientView(QWidget *parent = nullptr);
};

/// A small coloured dot whose help text says what it means.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget *parent = nullptr);
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    QSize sizeHint() const override { return {12, 12}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color = Qt::gray;
};

/// A borderless button showing a symbol that follows the palette.
QToolButton *makeSymbolButton(Symbol symbol, const QString &toolTip, QWidget *parent);
/// A button with a symbol and a text beside it.
QToolButton *makeTextButton(Symbol symbol, const QString &text, QWidget *parent);

/// An indeterminate progress indicator, small enough for a header row.
QWidget *makeBusyIndicator(QWidget *parent);

} // namespace quill
