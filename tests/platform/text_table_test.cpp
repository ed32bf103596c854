// The toolkit's table as the link monitor fills it: rows that come in a burst
// go into the list together, and after any run of insertions the screen shows
// what the rows say, whether the list grows, is full and drops its oldest rows
// at the top, or was scrolled back by the operator.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "platform/ToolkitTable.h"

namespace {

QStringList Row(int n) {
    return {QString::number(n), n % 2 ? "sent" : "recv.",
            QString("7B 07 00 01 52 %1 7D").arg(n % 256, 2, 16, QChar('0')), "{...RNT*&}",
            n % 3 ? "RNT" : "RNT reply accepted"};
}

class TextTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The monitor's own look, so the colours come through a style sheet.
        window_.setStyleSheet("QTableView { background-color: #0d1216; "
                              "alternate-background-color: #151b21; color: #dfe6ee; "
                              "gridline-color: #2a3138; selection-background-color: #2e5a7a; }");
        table_ = new Vx52TextTable(&window_);
        table_->setColumns("time|dir|bytes|text|meaning");
        table_->setColumnWidths("40|50|150|90");
        table_->setGeometry(0, 0, 420, 200);
        window_.resize(420, 200);
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    void Append(int count) {
        for (int i = 0; i < count; ++i) {
            table_->appendRow(Row(next_++));
        }
    }

    // The picture in the window's backing store, as the screen has it, against
    // one drawn afresh from the rows.
    bool ScreenShowsRows() {
        QApplication::processEvents();
        const QImage shown = window_.screen()->grabWindow(window_.winId()).toImage();
        const QImage fresh = window_.grab().toImage();
        return shown.convertToFormat(QImage::Format_RGB32) ==
               fresh.convertToFormat(QImage::Format_RGB32);
    }

    QWidget window_;
    Vx52TextTable* table_ = nullptr;
    int next_ = 0;
};

TEST_F(TextTableTest, ABurstOfRowsGoesInAsOneInsertionKeepingTheNewest) {
    table_->setMaxRows(100);
    Vx52TextRows* rows = table_->rows();
    QSignalSpy inserted(rows, &QAbstractItemModel::rowsInserted);
    Append(30);
    EXPECT_EQ(0, inserted.count()) << "rows wait for the batch";
    ASSERT_TRUE(QTest::qWaitFor([&] { return inserted.count() > 0; }, 5000));
    ASSERT_EQ(1, inserted.count());
    EXPECT_EQ(0, inserted[0][1].toInt());
    EXPECT_EQ(29, inserted[0][2].toInt());

    // More than the list holds, in one burst: only the newest go in, once.
    Append(250);
    EXPECT_EQ(100, table_->rows()->rowCount()) << "reading the list takes the waiting rows in";
    EXPECT_EQ(2, inserted.count());
    EXPECT_EQ(Row(next_ - 100), table_->rows()->row(0));
    EXPECT_EQ(Row(next_ - 1), table_->rows()->row(99));
}

TEST_F(TextTableTest, TheScreenShowsTheRowsAfterEveryKindOfInsertion) {
    table_->setMaxRows(40);
    QScrollBar* bar = table_->verticalScrollBar();
    const struct {
        int rows;
        int scrollTo; // -1: leave the scroll bar where it is, else its value
        const char* what;
    } steps[] = {
        {3, -1, "a list shorter than the screen"},
        {5, -1, "still shorter"},
        {20, -1, "longer than the screen: the picture moves up"},
        {1, -1, "one more"},
        {17, -1, "full: the oldest drop out at the top"},
        {7, -1, "full, an odd number dropped"},
        {5, 0, "full and scrolled back to the top"},
        {3, 10, "scrolled back to the middle"},
        {2, INT_MAX, "back at the end"},
        {9, -1, "following again"},
    };
    for (const auto& s : steps) {
        if (s.scrollTo >= 0) {
            bar->setValue(s.scrollTo);
        }
        Append(s.rows);
        table_->flushRows();
        EXPECT_TRUE(ScreenShowsRows()) << s.what;
    }
    table_->clearRows();
    EXPECT_TRUE(ScreenShowsRows()) << "cleared";
}

} // namespace
