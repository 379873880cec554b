// The live series view: its texts and estimate, and how Cancel and Close
// behave while a series runs and after it.
#include "seriesview.h"
#include "seriesviewtext.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <cmath>

using namespace graph;

class TstSeriesView : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("passes");
        QTest::addColumn<QString>("want");
        QTest::newRow("no pass yet") << qint64(4000) << 0 << 10 << "Elapsed 0:00:04";
        QTest::newRow("a quarter") << qint64(65000) << 25 << 100 << "Elapsed 0:01:05, about 0:03:15 left";
        QTest::newRow("a day") << qint64(100000) << 1 << 1000 << "Elapsed 0:01:40, about 27:45:00 left";
    }
    void texts()
    {
        QFETCH(qint64, elapsed);
        QFETCH(int, counted);
        QFETCH(int, passes);
        QFETCH(QString, want);
        QCOMPARE(timeText(elapsed, counted, passes), want);
    }

    void outliersCounted()
    {
        const std::vector<double> v{80.0, 80.05, 80.1, 95.0};
        QCOMPARE(outlierCount(v, measurement::outlierLimits(v, 0.05)), 1);
        QCOMPARE(statRow(measurement::Summary(), 0)[ColMean], QString("n/a"));
    }

    void cancelWhileRunningCloseAfter()
    {
        SeriesView v;
        v.begin(3, false);
        v.show();
        QVERIFY(v.isModal() || v.windowModality() == Qt::ApplicationModal);
        v.addPass(81.5, std::nan(""), 102.8, 0.05);
        v.setProgress(1, 2, 1);
        QCOMPARE(v.stats(SeriesView::SourceRf).count(), 1);
        QCOMPARE(v.stats(SeriesView::SourceHdmi).missing(), 1);
        auto* table = v.findChild<QTableWidget*>("stats");
        QCOMPARE(table->item(SeriesView::SourceRf, ColMedian)->text(), QString("81.500"));
        QCOMPARE(table->item(SeriesView::SourceHdmi, 0)->text(), QString("off"));

        QTest::keyClick(&v, Qt::Key_Escape);  // cancels, stays open
        QVERIFY(v.wasCanceled() && v.isVisible());
        v.close();
        QVERIFY(v.isVisible());

        v.end(QStringLiteral("cancelled"));
        QCOMPARE(v.windowModality(), Qt::NonModal);
        QVERIFY(v.isVisible());
        QCOMPARE(table->item(SeriesView::SourceSink, ColN)->text(), QString("1"));
        v.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
        QVERIFY(!v.isVisible());
    }
};

QTEST_MAIN(TstSeriesView)
#include "tst_seriesview.moc"
