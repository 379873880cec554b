// Every text of both windows shows whole with the font the program chooses,
// measured as the program measures it; and that measure does catch the
// texts cut off with the wide default font of a stock Linux desktop.
#include "globals.h"
#include "graph.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "uifont.h"
#include "visabinding.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

#include <memory>

class TstTextFit : public QObject
{
    Q_OBJECT

    QFont chosen;

private slots:
    void initTestCase()
    {
        setVisaCandidates({testsupport::recVisaPath()});
        chosen = chooseUiFont();
    }

    void texts_data()
    {
        QTest::addColumn<bool>("mainWindow");
        QTest::addColumn<QString>("font");         // empty: the chosen one
        QTest::addColumn<QStringList>("clipped");  // among those cut off
        QTest::newRow("main window") << true << QString() << QStringList();
        QTest::newRow("result dialog") << false << QString() << QStringList();
        QTest::newRow("main window, DejaVu Sans 9 pt")
            << true << "DejaVu Sans" << QStringList{"OsIp", "label_3", "OsRst", "SaveData", "label_8"};
        QTest::newRow("result dialog, DejaVu Sans 9 pt") << false << "DejaVu Sans" << QStringList{"label_2"};
    }
    void texts()
    {
        QFETCH(bool, mainWindow);
        QFETCH(QString, font);
        QFETCH(QStringList, clipped);
        QApplication::setFont(font.isEmpty() ? chosen : QFont(font, 9));
        src2RfMean = src2HdMean = src2SnkMean = -2000.0;  // the longest read-outs
        std::unique_ptr<QWidget> w(mainWindow ? static_cast<QWidget*>(new MainWindow) : new Graph);
        for (QPushButton* b : w->findChildren<QPushButton*>(QRegularExpression("Init$")))
            b->setText("Ready");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QStringList found = clippedTexts(w.get());
        QApplication::setFont(chosen);
        if (clipped.isEmpty())
            QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
        for (const QString& name : clipped)
            QVERIFY2(!found.filter(QRegularExpression("^" + name + ":")).isEmpty(), qPrintable(name));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstTextFit t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_textfit.moc"
