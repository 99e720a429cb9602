// Two edit fields that stand for a value the program holds: the value is
// written into the field at the field's first paint, and from then on the
// field's text is the authority (every change of the text, by the user or by
// the program, updates the value).
#pragma once

#include <QLineEdit>
#include <QString>
#include <cstdint>

// The integer a text stands for: leading blanks and a sign are accepted,
// the number ends at the first character that is not a digit, text without
// digits gives 0, and a number beyond 32 bits stops at the nearest limit.
std::int32_t DecimalValue(const QString& text);

class CNumberEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CNumberEdit(QWidget* parent = nullptr);

    // Only stores the value: shown at the first paint when set before it,
    // otherwise held while the field keeps what it shows.
    void SetValue(std::int32_t value) { m_nValue = value; }
    std::int32_t Value() const { return m_nValue; }
    // The value formatted with "%d".
    QString GetValueText() const { return QString::number(m_nValue); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bShowValue = 1;
    std::int32_t m_nValue = 0;
};

class CTextEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CTextEdit(QWidget* parent = nullptr);

    // Stores the text and shows it at once.
    void SetText(const QString& text);
    QString GetText() const { return m_strValue; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bShowValue = 1;
    QString m_strValue;
};
