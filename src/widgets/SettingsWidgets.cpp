#include "widgets/SettingsWidgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

namespace daybrook {

QColor toneColor(Tone tone, const QPalette &palette) {
    switch (tone) {
    case Tone::Primary:
        return style::primaryColor(palette);
    case Tone::Secondary:
        return style::secondaryColor(palette);
    case Tone::Tertiary:
        return style::tertiaryColor(palette);
    case Tone::Red:
        return style::redColor(palette);
    case Tone::Green:
        return style::greenColor(palette);
    }
    return style::primaryColor(palette);
}

ToneLabel::ToneLabel(const QString &text, Tone tone, QWidget *parent) : QLabel(text, parent), m_tone(tone) {
    applyTone();
}

void ToneLabel::setTone(Tone tone) {
    m_tone = tone;
    applyTone();
}

void ToneLabel::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyTone();
}

void ToneLabel::applyTone() {
    if (m_applying)
        return;
    m_applying = true;
    QPalette p = palette();
    const QColor color = toneColor(m_tone, p);
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
    m_applying = false;
}

SymbolLabel::SymbolLabel(style::Symbol symbol, Tone tone, int size, QWidget *parent)
    : QLabel(parent), m_symbol(symbol), m_tone(tone), m_size(size) {
    setFixedSize(size, size);
    render();
}

SymbolLabel::SymbolLabel(style::Symbol symbol, QColor (*color)(const QPalette &), int size, QWidget *parent)
    : QLabel(parent), m_symbol(symbol), m_color(color), m_size(size) {
    setFixedSize(size, size);
    render();
}

void SymbolLabel::setSymbol(style::Symbol symbol) {
    m_symbol = symbol;
    render();
}

void SymbolLabel::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        render();
}

void SymbolLabel::render() {
    const QColor color = m_color ? m_color(palette()) : toneColor(m_tone, palette());
    setPixmap(style::symbolPixmap(m_symbol, color, m_size, devicePixelRatioF()));
}

StatusBadge::StatusBadge(const QString &text, QWidget *parent) : QWidget(parent) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    const int size = QFontMetrics(font()).height();
    layout->addWidget(new SymbolLabel(style::Symbol::CheckCircleFilled, Tone::Green, size, this));
    m_label = new ToneLabel(text, Tone::Green, this);
    layout->addWidget(m_label);
}

QString StatusBadge::text() const {
    return m_label->text();
}

namespace {
// A flat button whose text takes a tone, re-tinted when light and dark switch.
class TonedButton : public QPushButton {
public:
    TonedButton(const QString &text, Tone tone, QWidget *parent) : QPushButton(text, parent), m_tone(tone) {
        setFlat(true);
        setCursor(Qt::PointingHandCursor);
        applyTone();
    }

protected:
    void changeEvent(QEvent *event) override {
        QPushButton::changeEvent(event);
        if (event->type() == QEvent::PaletteChange)
            applyTone();
    }

private:
    void applyTone() {
        if (m_tone == Tone::Primary || m_applying)
            return;
        m_applying = true;
        // Tinted through the palette so that the style still draws it.
        QPalette p = palette();
        p.setColor(QPalette::ButtonText, toneColor(m_tone, p));
        setPalette(p);
        m_applying = false;
    }
    Tone m_tone;
    bool m_applying = false;
};

// The hairline between two rows of a form.
class Separator : public QWidget {
public:
    explicit Separator(QWidget *parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), style::separatorColor(palette()));
    }
};
} // namespace

QPushButton *makeBorderlessButton(const QString &text, Tone tone, QWidget *parent) {
    return new TonedButton(text, tone, parent);
}

QVBoxLayout *addScrollingForm(QVBoxLayout *outer, int spacing) {
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(spacing);
    return layout;
}

FormSection *makeConnectedHeader(QObject *context, std::function<void()> refresh,
                                 std::function<void()> disconnect) {
    auto *header = new FormSection;
    auto *headerRow = new QWidget;
    auto *headerLayout = new QHBoxLayout(headerRow);
    headerLayout->setContentsMargins(0, 4, 0, 4);
    headerLayout->addWidget(new StatusBadge(QStringLiteral("Connected")));
    headerLayout->addStretch(1);
    QPushButton *refreshButton = makeBorderlessButton(QStringLiteral("Refresh"));
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    headerLayout->addWidget(refreshButton);
    QPushButton *disconnectButton = makeBorderlessButton(QStringLiteral("Disconnect"), Tone::Red);
    disconnectButton->setObjectName(QStringLiteral("disconnectButton"));
    headerLayout->addWidget(disconnectButton);
    header->addRow(headerRow);
    QObject::connect(refreshButton, &QPushButton::clicked, context, std::move(refresh));
    QObject::connect(disconnectButton, &QPushButton::clicked, context, std::move(disconnect));
    return header;
}

ChevronButton::ChevronButton(QWidget *parent) : QAbstractButton(parent) {
    setFixedSize(12, 12);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ChevronButton::setExpanded(bool expanded) {
    m_expanded = expanded;
    update();
}

void ChevronButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap glyph = style::symbolPixmap(style::Symbol::ChevronRight, style::secondaryColor(palette()),
                                              10, devicePixelRatioF());
    painter.translate(width() / 2.0, height() / 2.0);
    if (m_expanded)
        painter.rotate(90);
    painter.drawPixmap(QPointF(-5, -5), glyph);
}

ColorDot::ColorDot(const QColor &color, int diameter, QWidget *parent)
    : QWidget(parent), m_color(color), m_diameter(diameter) {
    setFixedSize(diameter, diameter);
}

void ColorDot::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(0, 0, m_diameter, m_diameter));
}

class FormSection::Card : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(path, style::cardColor(palette()));
        painter.setPen(QPen(style::separatorColor(palette()), 1));
        painter.drawPath(path);
    }
};

FormSection::FormSection(const QString &title, QWidget *parent) : QWidget(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!title.isEmpty()) {
        m_header = new ToneLabel(title, Tone::Secondary, this);
        m_header->setFont(style::headlineFont());
        m_header->setContentsMargins(8, 0, 0, 0);
        layout->addWidget(m_header);
    }
    m_card = new Card(this);
    m_rows = new QVBoxLayout(m_card);
    m_rows->setContentsMargins(12, 6, 12, 6);
    m_rows->setSpacing(0);
    layout->addWidget(m_card);
}

QString FormSection::title() const {
    return m_header ? m_header->text() : QString();
}

void FormSection::addRow(QWidget *row) {
    if (m_rows->count() > 0) {
        auto *line = new Separator(m_card);
        m_rows->addWidget(line);
        line->show();
    }
    // Rows added to a card already on screen would otherwise appear a turn later.
    const bool hiddenOnPurpose = row->testAttribute(Qt::WA_WState_ExplicitShowHide) && row->isHidden();
    row->setParent(m_card);
    m_rows->addWidget(row);
    if (!hiddenOnPurpose)
        row->show();
}

QWidget *FormSection::addLabeledRow(const QString &label, QWidget *control) {
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 6);
    auto *text = new QLabel(label, row);
    text->setBuddy(control);
    layout->addWidget(text);
    layout->addStretch(1);
    layout->addWidget(control);
    addRow(row);
    return row;
}

void FormSection::clearRows() {
    // A row may be rebuilt from inside one of its own buttons' signals: move the
    // old rows out of the form now and delete them once that signal has returned.
    // They go into one hidden holder, since a widget without a parent is a window
    // and many windows make every deletion slow.
    QWidget *holder = nullptr;
    for (int i = m_rows->count() - 1; i >= 0; --i) {
        QLayoutItem *item = m_rows->takeAt(i);
        if (QWidget *widget = item->widget()) {
            if (!holder)
                holder = new QWidget;
            widget->setParent(holder);
        }
        delete item;
    }
    if (holder)
        holder->deleteLater();
}

IntegrationRow::IntegrationRow(style::Symbol symbol, QColor (*symbolColor)(const QPalette &),
                               const QString &title, QWidget *parent)
    : QWidget(parent) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto *main = new QHBoxLayout;
    main->setContentsMargins(0, 4, 0, 4);
    main->setSpacing(8);
    auto *iconBox = new QWidget(this);
    iconBox->setFixedWidth(24);
    auto *iconLayout = new QHBoxLayout(iconBox);
    iconLayout->setContentsMargins(0, 0, 0, 0);
    iconLayout->addWidget(new SymbolLabel(symbol, symbolColor, 20, iconBox), 0, Qt::AlignCenter);
    main->addWidget(iconBox);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("titleText"));
    titleLabel->setFont(style::headlineFont());
    texts->addWidget(titleLabel);
    m_status = new ToneLabel({}, Tone::Secondary, this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setFont(style::captionFont());
    texts->addWidget(m_status);
    main->addLayout(texts);
    main->addStretch(1);
    m_trailing = new QHBoxLayout;
    m_trailing->setSpacing(8);
    main->addLayout(m_trailing);
    column->addLayout(main);

    m_detail = new QWidget(this);
    m_detail->setObjectName(QStringLiteral("detailLine"));
    m_detailLayout = new QHBoxLayout(m_detail);
    m_detailLayout->setContentsMargins(32, 0, 0, 0);
    m_detailLayout->setSpacing(4);
    m_detail->hide();
    column->addWidget(m_detail);

    m_error = new ToneLabel({}, Tone::Red, this);
    m_error->setObjectName(QStringLiteral("errorText"));
    m_error->setFont(style::captionFont());
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_error->setContentsMargins(32, 0, 0, 0);
    m_error->hide();
    column->addWidget(m_error);
}

QString IntegrationRow::statusText() const {
    return m_status->text();
}

QString IntegrationRow::errorText() const {
    return m_error->isHidden() ? QString() : m_error->text();
}

void IntegrationRow::setStatusText(const QString &text) {
    m_status->setText(text);
}

void IntegrationRow::addTrailing(QWidget *widget) {
    widget->setParent(this);
    m_trailing->addWidget(widget);
    m_trailingWidgets.append(widget);
    widget->hide();
}

void IntegrationRow::showTrailing(QWidget *widget) {
    for (QWidget *candidate : std::as_const(m_trailingWidgets))
        candidate->setVisible(candidate == widget);
}

ToneLabel *IntegrationRow::setUpDetailLine(const QString &actionTitle, const QString &actionObjectName,
                                           std::function<void()> refresh, std::function<void()> action) {
    auto *text = new ToneLabel({}, Tone::Secondary);
    text->setObjectName(QStringLiteral("detailText"));
    text->setFont(style::captionFont());
    m_detailLayout->addWidget(text);
    m_detailLayout->addStretch(1);
    QPushButton *refreshButton = makeBorderlessButton(QStringLiteral("Refresh"));
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    m_detailLayout->addWidget(refreshButton);
    QPushButton *actionButton = makeBorderlessButton(actionTitle, Tone::Red);
    actionButton->setObjectName(actionObjectName);
    m_detailLayout->addWidget(actionButton);
    connect(refreshButton, &QPushButton::clicked, this, std::move(refresh));
    connect(actionButton, &QPushButton::clicked, this, std::move(action));
    return text;
}

void IntegrationRow::setDetailVisible(bool visible) {
    m_detail->setVisible(visible);
}

void IntegrationRow::setErrorText(const std::optional<QString> &text) {
    m_error->setText(text.value_or(QString()));
    m_error->setVisible(text.has_value());
}

} // namespace daybrook
