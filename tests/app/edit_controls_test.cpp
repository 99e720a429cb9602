// The two edit fields that stand for a value: the number a text stands for,
// the value written at the first paint, and the text as the authority after.
#include <QTest>
#include <limits>

#include "app/EditControls.h"

class EditControlsTest : public QObject {
    Q_OBJECT

private slots:
    void numberFromText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "123" << 123;
        QTest::newRow("leading blanks and sign") << "  -45" << -45;
        QTest::newRow("tab and plus") << "\t+7" << 7;
        QTest::newRow("stops at a letter") << "12abc" << 12;
        QTest::newRow("stops at a blank") << "1 2" << 1;
        QTest::newRow("stops at a point") << "7.9" << 7;
        QTest::newRow("no digits") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("sign only") << "-" << 0;
        QTest::newRow("hex is not read") << "0x10" << 0;
        QTest::newRow("blank between sign and digits") << "- 5" << 0;
        QTest::newRow("highest") << "2147483647" << std::numeric_limits<int>::max();
        QTest::newRow("lowest") << "-2147483648" << std::numeric_limits<int>::min();
        QTest::newRow("too high") << "99999999999" << std::numeric_limits<int>::max();
        QTest::newRow("too low") << "-99999999999" << std::numeric_limits<int>::min();
    }
    // Through the field: replacing its text is what sets the value.
    void numberFromText() {
        QFETCH(QString, text);
        QFETCH(int, value);
        CNumberEdit field;
        field.setText("-12345");
        field.setText(text);
        QCOMPARE(field.Value(), value);
        QCOMPARE(field.GetValueText(), QString::number(value));
    }

    void numberShownAtFirstPaintOnly() {
        CNumberEdit field;
        field.SetValue(7000);
        // Nothing on screen until the field paints.
        QCOMPARE(field.text(), QString());
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QTRY_COMPARE(field.text(), QString("7000"));

        // After that first paint a new value is held, not shown.
        field.SetValue(250);
        field.repaint();
        QCoreApplication::processEvents();
        QCOMPARE(field.text(), QString("7000"));
        QCOMPARE(field.GetValueText(), QString("250"));

        // The program replacing the text sets the value from it...
        field.setText("12");
        QCOMPARE(field.GetValueText(), QString("12"));
        // ...and so does the user typing.
        field.setFocus();
        field.selectAll();
        QTest::keyClicks(&field, "-34x");
        QCOMPARE(field.text(), QString("-34x"));
        QCOMPARE(field.Value(), -34);
    }

    // Text typed before the first paint gives way to the value at that paint.
    void firstPaintOverwritesEarlierText() {
        CNumberEdit field;
        field.SetValue(9);
        field.setText("5");
        QCOMPARE(field.Value(), 5);
        field.SetValue(9);
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QTRY_COMPARE(field.text(), QString("9"));
        QCOMPARE(field.Value(), 9);
    }

    void textFollowsField() {
        CTextEdit field;
        QCOMPARE(field.GetText(), QString());
        // SetText shows at once, before any paint.
        field.SetText("23.4");
        QCOMPARE(field.text(), QString("23.4"));
        QCOMPARE(field.GetText(), QString("23.4"));
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QCOMPARE(field.text(), QString("23.4"));
        // The user's text becomes the value.
        field.setFocus();
        field.selectAll();
        QTest::keyClicks(&field, "/tmp/pictures");
        QCOMPARE(field.GetText(), QString("/tmp/pictures"));
        field.clear();
        QCOMPARE(field.GetText(), QString());
    }
};

QTEST_MAIN(EditControlsTest)
#include "edit_controls_test.moc"
