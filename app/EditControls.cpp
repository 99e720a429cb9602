#include "app/EditControls.h"

#include <limits>

std::int32_t DecimalValue(const QString& text) {
    qsizetype at = 0;
    while (at < text.size() && (text[at] == u' ' || (text[at] >= u'\t' && text[at] <= u'\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) {
        negative = text[at] == u'-';
        ++at;
    }
    // Accumulated as a negative number so that the lowest 32-bit value fits.
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    std::int64_t number = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        number = number * 10 - (text[at].unicode() - u'0');
        if (number < kLow) {
            return negative ? static_cast<std::int32_t>(kLow) : static_cast<std::int32_t>(kHigh);
        }
    }
    if (!negative) {
        number = -number;
        if (number > kHigh) {
            return static_cast<std::int32_t>(kHigh);
        }
    }
    return static_cast<std::int32_t>(number);
}

CNumberEdit::CNumberEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_nValue = DecimalValue(text); });
}

void CNumberEdit::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if (m_bShowValue) {
        m_bShowValue = 0;
        setText(GetValueText());
    }
}

CTextEdit::CTextEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_strValue = text; });
}

void CTextEdit::SetText(const QString& text) {
    m_strValue = text;
    setText(text);
}

void CTextEdit::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if (m_bShowValue) {
        m_bShowValue = 0;
        setText(m_strValue);
    }
}
