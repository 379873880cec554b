#include "viewerwindow.h"

#include "columntable.h"
#include "distplots.h"
#include "exporting.h"
#include "passview.h"
#include "plotnavigation.h"
#include "resultfiles.h"
#include "stats.h"
#include "ui_viewerwindow.h"
#include "viewersettings.h"
#include "viewertables.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStatusBar>
#include <QTableWidget>
#include <qwt_plot.h>

#include <cmath>

using namespace view;

namespace {

const QColor kFirstColour(30, 90, 200);
const QColor kSecondColour(220, 60, 40);

int defaultFamilyDialog(QWidget* parent, const Series& s, int defaultFamily, const QString& hint)
{
    const QStringList items{QStringLiteral("first"), QStringLiteral("second")};
    QString text = QStringLiteral("The series %1 does not record which oscilloscope family took it; the family "
                                  "decides the time axis of its traces.\nDefault: the program's current setting.")
                       .arg(stampText(s.entry.stamp));
    if (!hint.isEmpty())
        text += QLatin1Char('\n') + hint;
    bool ok = false;
    const QString answer = QInputDialog::getItem(parent, QStringLiteral("Oscilloscope family"), text, items,
                                                 defaultFamily == 0 ? 0 : 1, false, &ok);
    if (!ok)
        return -1;
    return answer == items[0] ? 0 : 1;
}

// Which family reproduces the stored delays of the first pass with traces:
// a hint for the operator, not a decision.
QString familyHint(const Series& s)
{
    for (int i = 0; i < s.passCount(); ++i) {
        if (!s.hasTraces(s.pass[i]))
            continue;
        Series probe = s;
        QStringList fits;
        for (int family : {0, 1}) {
            probe.osTyp = family;
            PassWork work;
            const PassReanalysis r = analysePass(probe, i, &work);
            if (r.analysed && r.reproduced)
                fits << (family == 0 ? QStringLiteral("first") : QStringLiteral("second"));
        }
        if (fits.size() == 1)
            return QStringLiteral("The stored delays of pass %1 come out again with the %2 family.")
                .arg(s.pass[i])
                .arg(fits.first());
        return QString();
    }
    return QString();
}

}  // namespace

ViewerWindow::ViewerWindow(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir), m_settingsPath(viewerSettingsPath(programDir))
{
    ui = new Ui_ViewerWindow;
    ui->setupUi(this);
    askFamily = [this](const Series& s, int def, const QString& hint) {
        return defaultFamilyDialog(this, s, def, hint);
    };
    askSavePath = [this](const QString& title, const QString& name) {
        return QFileDialog::getSaveFileName(this, title, QDir(m_folder).filePath(name));
    };

    m_passModel = new ColumnTable(this);
    auto* passSort = new ColumnSort(this);
    passSort->setSourceModel(m_passModel);
    ui->passTable->setModel(passSort);
    m_reModel = new ColumnTable(this);
    auto* reSort = new ColumnSort(this);
    reSort->setSourceModel(m_reModel);
    ui->reanalysisTable->setModel(reSort);
    ui->passTable->verticalHeader()->setVisible(false);
    ui->reanalysisTable->verticalHeader()->setVisible(false);

    for (int d = 0; d < kDelays; ++d) {
        ui->delayBox->addItem(delayName(d));
        ui->compareDelayBox->addItem(delayName(d));
    }
    for (QwtPlot* p : {ui->histPlot, ui->cdfPlot, ui->valuesPlot, ui->compareHistPlot, ui->compareCdfPlot})
        m_navs << new graph::PlotNavigation(p);
    const int row = fontMetrics().height() + 6;
    for (QTableView* t : {static_cast<QTableView*>(ui->passTable), static_cast<QTableView*>(ui->reanalysisTable),
                          static_cast<QTableView*>(ui->statsTable), static_cast<QTableView*>(ui->reanalysisStats),
                          static_cast<QTableView*>(ui->compareTable)})
        t->verticalHeader()->setDefaultSectionSize(row);
    ui->splitter->setStretchFactor(1, 3);

    const ViewerSettings vs = readViewerSettings(m_settingsPath);
    m_filling = true;
    ui->calRf->setValue(vs.calibration.offsetMs[SrcRf]);
    ui->calHd->setValue(vs.calibration.offsetMs[SrcHd]);
    ui->calSnk->setValue(vs.calibration.offsetMs[SrcSnk]);
    ui->applyCalibration->setChecked(vs.subtract);
    m_filling = false;
    m_calibration = vs.calibration;
    ui->calibrationGroup->setToolTip(
        QStringLiteral("With the first oscilloscope family and the RF trace from the spectrum analyzer every "
                       "source -> RF delay reads 100 ms more than the true one: enter 100 there."));
    fillSeriesTabs();
}

ViewerWindow::~ViewerWindow()
{
    if (m_passView)
        delete m_passView;
    delete ui;
}

void ViewerWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_sized) {
        // Room for the series list's columns; the splitter only takes sizes once laid out.
        m_sized = true;
        ui->splitter->setSizes({430, std::max(400, ui->splitter->width() - 430)});
    }
}

PassView* ViewerWindow::passView() const
{
    return m_passView;
}

void ViewerWindow::openFolder(const QString& folder)
{
    m_folder = QDir(folder).absolutePath();
    ui->folderEdit->setText(QDir::toNativeSeparators(m_folder));
    if (!QFileInfo(m_folder).isDir())
        statusBar()->showMessage(QStringLiteral("%1 is not a folder.").arg(QDir::toNativeSeparators(m_folder)));
    m_entries = listSeries(m_folder);
    fillSeriesList();
}

bool ViewerWindow::openPath(const QString& path)
{
    if (QFileInfo(path).isDir()) {
        openFolder(path);
        return true;
    }
    SeriesEntry entry;
    QString error;
    if (!seriesFromPath(path, &entry, &error)) {
        QMessageBox::warning(this, QStringLiteral("Open Series"), error);
        return false;
    }
    openFolder(entry.folder);
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].stamp == entry.stamp) {
            ui->seriesList->setCurrentItem(ui->seriesList->topLevelItem(i));
            return m_series && m_series->entry.stamp == entry.stamp;
        }
    }
    return openSeries(entry);
}

bool ViewerWindow::openSeries(const SeriesEntry& entry)
{
    delete m_passView;  // it shows the series being replaced
    QString error;
    auto s = QSharedPointer<Series>::create();
    if (!loadSeries(entry, s.data(), &error)) {
        m_series.reset();
        fillSeriesTabs();
        statusBar()->showMessage(error);
        QMessageBox::warning(this, QStringLiteral("Open Series"), error);
        return false;
    }
    if (!s->familyKnown)
        s->osTyp = m_familyAnswers.value(entry.stamp, programFamily(m_programDir));
    m_series = s;
    m_hasReanalysis = false;
    m_reanalysis = Reanalysis();
    fillSeriesTabs();
    statusBar()->showMessage(s->problems.isEmpty()
                                 ? QStringLiteral("Series %1 opened.").arg(stampText(entry.stamp))
                                 : QStringLiteral("Series %1 opened with %2 problems: see Statistics.")
                                       .arg(stampText(entry.stamp))
                                       .arg(s->problems.size()));
    return true;
}

// Asked once per series and session, when the traces are first needed.
bool ViewerWindow::ensureFamily()
{
    if (!m_series)
        return false;
    if (m_series->familyKnown || m_familyAnswers.contains(m_series->entry.stamp))
        return true;
    const int answer =
        m_familyAnswer >= 0 ? m_familyAnswer : askFamily(*m_series, programFamily(m_programDir), familyHint(*m_series));
    if (answer < 0)
        return false;
    m_familyAnswers.insert(m_series->entry.stamp, answer);
    m_series->osTyp = answer;
    fillSeriesTabs();  // the histogram's bins follow the sample period
    return true;
}

void ViewerWindow::fillSeriesList()
{
    m_filling = true;
    ui->seriesList->clear();
    for (const SeriesEntry& e : m_entries) {
        QStringList cols{stampText(e.stamp)};
        // The results file is short; a series without one (it did not end)
        // is read from its per-pass record.
        ResultsFile r;
        Series s;
        QString error;
        if (e.hasResults && readResultsFile(e.resultsPath(), &r, &error)) {
            cols << QString::number(r.values[SrcRf].size());
            for (int d = 0; d < kDelays; ++d)
                cols << msCell(r.means[d]);
        } else if (loadSeries(e, &s, &error)) {
            cols << QString::number(s.passCount());
            for (int d = 0; d < kDelays; ++d)
                cols << msCell(measurement::meanOfDelivered(s.values[d]));
        } else {
            cols << QStringLiteral("?") << QString() << QString() << QString();
        }
        cols << (e.traceSets > 0 ? QStringLiteral("%1 sets").arg(e.traceSets) : QStringLiteral("none"));
        auto* item = new QTreeWidgetItem(cols);
        for (int c = 1; c <= 4; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        ui->seriesList->addTopLevelItem(item);
    }
    for (int c = 0; c < ui->seriesList->columnCount(); ++c)
        ui->seriesList->resizeColumnToContents(c);
    // The comparison partner: any other series of the folder.
    ui->compareBox->clear();
    ui->compareBox->addItem(QStringLiteral("(none)"));
    for (const SeriesEntry& e : m_entries)
        ui->compareBox->addItem(stampText(e.stamp));
    m_filling = false;
    statusBar()->showMessage(
        QStringLiteral("%1 series in %2").arg(m_entries.size()).arg(QDir::toNativeSeparators(m_folder)));
}

void ViewerWindow::on_seriesList_currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    const int i = current ? ui->seriesList->indexOfTopLevelItem(current) : -1;
    if (!m_filling && i >= 0 && i < m_entries.size())
        openSeries(m_entries[i]);
}

void ViewerWindow::fillSeriesTabs()
{
    const bool have = !m_series.isNull();
    for (QWidget* w : {static_cast<QWidget*>(ui->showPassButton), static_cast<QWidget*>(ui->exportCsvButton),
                       static_cast<QWidget*>(ui->exportJsonButton), static_cast<QWidget*>(ui->reanalyseButton)})
        w->setEnabled(have);
    ui->exportReCsvButton->setEnabled(m_hasReanalysis);
    ui->exportReJsonButton->setEnabled(m_hasReanalysis);
    if (!have) {
        ui->seriesInfo->setText(QStringLiteral("Choose a series on the left."));
        m_passModel->setColumns({});
        m_reModel->setColumns({});
        ui->statsTable->clear();
        ui->problemsText->clear();
        return;
    }
    const Series& s = *m_series;
    m_resolution = samplePeriodMs(s);
    int withTraces = 0;
    for (int i = 0; i < s.passCount(); ++i)
        withTraces += s.hasTraces(s.pass[i]) ? 1 : 0;
    ui->seriesInfo->setText(QStringLiteral("%1 · %2 passes · values from %3 · oscilloscope family %4 · trace "
                                           "files for %5 passes%6")
                                .arg(stampText(s.entry.stamp))
                                .arg(s.passCount())
                                .arg(s.source, s.familyText())
                                .arg(withTraces)
                                .arg(s.problems.isEmpty()
                                         ? QString()
                                         : QStringLiteral(" · %1 problems (see Statistics)").arg(s.problems.size())));

    QVector<bool> marked;
    m_passModel->setColumns(passTableColumns(s, m_resolution, &marked), marked);
    ui->passTable->resizeColumnsToContents();

    ui->problemsText->setPlainText(s.problems.isEmpty() ? QStringLiteral("None.") : s.problems.join(QLatin1Char('\n')));
    fillStatistics();
    fillDistribution();
    fillReanalysis();
    fillCompare();
}

void ViewerWindow::fillStatistics()
{
    if (!m_series)
        return;
    QVector<ValueColumn> cols = seriesColumns(*m_series);
    if (const Calibration* cal = appliedCalibration()) {
        for (int d = 0; d < kDelays; ++d) {
            ValueColumn c{QString(), delayName(d) + QStringLiteral(" calibrated"), {}};
            for (double v : m_series->values[d])
                c.values << cal->apply(d, v);
            cols << c;
        }
    }
    fillSummaryTable(ui->statsTable, cols, m_resolution);
}

void ViewerWindow::fillDistribution()
{
    if (!m_series)
        return;
    const int d = std::max(0, ui->delayBox->currentIndex());
    const PlotSet set{delayName(d), m_series->values[d], kFirstColour};
    showHistogram(ui->histPlot, {set}, m_resolution, unitOf(d));
    showCdf(ui->cdfPlot, {set}, unitOf(d));
    showValues(ui->valuesPlot, m_series->pass, set, outlierMask(set.values, m_resolution), unitOf(d));
    for (graph::PlotNavigation* n : m_navs.mid(0, 3))
        n->home();
}

const Calibration* ViewerWindow::appliedCalibration() const
{
    return ui->applyCalibration->isChecked() && !m_calibration.isZero() ? &m_calibration : nullptr;
}

void ViewerWindow::calibrationChanged()
{
    if (m_filling)
        return;
    m_calibration.offsetMs[SrcRf] = ui->calRf->value();
    m_calibration.offsetMs[SrcHd] = ui->calHd->value();
    m_calibration.offsetMs[SrcSnk] = ui->calSnk->value();
    ViewerSettings vs;
    vs.calibration = m_calibration;
    vs.subtract = ui->applyCalibration->isChecked();
    if (!writeViewerSettings(m_settingsPath, vs))
        statusBar()->showMessage(
            QStringLiteral("The calibration could not be saved in %1.").arg(QDir::toNativeSeparators(m_settingsPath)));
    fillStatistics();
    fillReanalysis();
}

bool ViewerWindow::reanalyseSeries()
{
    if (!m_series || !ensureFamily())
        return false;
    QProgressDialog progress(QStringLiteral("Re-analysing the trace files…"), QStringLiteral("Cancel"), 0,
                             std::max(1, m_series->passCount()), this);
    progress.setWindowTitle(QStringLiteral("Re-analysis"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const Reanalysis r = reanalyse(*m_series, [&progress](int done, int) {
        progress.setValue(done);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    m_reanalysis = r;
    m_hasReanalysis = true;
    fillReanalysis();
    ui->tabs->setCurrentWidget(ui->reanalysisTab);
    return !r.cancelled;
}

void ViewerWindow::fillReanalysis()
{
    ui->exportReCsvButton->setEnabled(m_hasReanalysis);
    ui->exportReJsonButton->setEnabled(m_hasReanalysis);
    if (!m_hasReanalysis) {
        ui->reanalysisSummary->setText(QStringLiteral("Not re-analysed yet."));
        m_reModel->setColumns({});
        ui->reanalysisStats->clear();
        ui->reanalysisStats->setRowCount(0);
        return;
    }
    const Reanalysis& r = m_reanalysis;
    QString text = QStringLiteral("%1 passes analysed: %2 give the stored delays exactly with the program's rules, "
                                  "%3 do not; %4 without usable traces.")
                       .arg(r.analysed)
                       .arg(r.reproduced)
                       .arg(r.mismatched())
                       .arg(r.withoutTraces);
    if (r.cancelled)
        text += QStringLiteral(" Cancelled after %1 of %2 passes.").arg(r.passes.size()).arg(m_series->passCount());
    ui->reanalysisSummary->setText(text);

    const QVector<ValueColumn> values = reanalysisColumns(r, appliedCalibration());
    fillSummaryTable(ui->reanalysisStats, values, m_resolution);
    QVector<bool> marked;
    m_reModel->setColumns(reanalysisTableColumns(r, values, &marked), marked);
    ui->reanalysisTable->resizeColumnsToContents();
}

void ViewerWindow::on_compareBox_currentIndexChanged(int index)
{
    if (m_filling)
        return;
    m_hasOther = false;
    const int i = index - 1;  // item 0 is "(none)"
    if (i >= 0 && i < m_entries.size()) {
        QString error;
        m_hasOther = loadSeries(m_entries[i], &m_other, &error);
        if (!m_hasOther)
            statusBar()->showMessage(error);
    }
    fillCompare();
}

void ViewerWindow::fillCompare()
{
    QTableWidget* t = ui->compareTable;
    t->clear();
    t->setRowCount(0);
    if (!m_series || !m_hasOther) {
        resetPlot(ui->compareHistPlot, QString(), QString());
        resetPlot(ui->compareCdfPlot, QString(), QString());
        ui->compareHistPlot->replot();
        ui->compareCdfPlot->replot();
        return;
    }
    const int d = std::max(0, ui->compareDelayBox->currentIndex());
    const Summary a = summarise(m_series->values[d], m_resolution);
    const Summary b = summarise(m_other.values[d], samplePeriodMs(m_other));
    fillCompareTable(t, stampText(m_series->entry.stamp), a, stampText(m_other.entry.stamp), b);
    const QVector<PlotSet> sets{{stampText(m_series->entry.stamp), m_series->values[d], kFirstColour},
                                {stampText(m_other.entry.stamp), m_other.values[d], kSecondColour}};
    showHistogram(ui->compareHistPlot, sets, std::max(m_resolution, samplePeriodMs(m_other)), unitOf(d));
    showCdf(ui->compareCdfPlot, sets, unitOf(d));
    for (graph::PlotNavigation* n : m_navs.mid(3))
        n->home();
}

int ViewerWindow::rowIndex(const QModelIndex& proxyIndex) const
{
    const auto* proxy = static_cast<const QSortFilterProxyModel*>(proxyIndex.model());
    return proxy ? proxy->mapToSource(proxyIndex).row() : -1;
}

bool ViewerWindow::showPass(int index)
{
    if (!m_series || index < 0 || index >= m_series->passCount() || !ensureFamily())
        return false;
    if (!m_passView) {
        m_passView = new PassView(m_series, nullptr);
        m_passView->resize(1000, 620);
        connect(m_passView, &PassView::passShown, this, [this](int i) {
            // Keep the table's selection on the pass shown.
            auto* proxy = static_cast<QSortFilterProxyModel*>(ui->passTable->model());
            const QModelIndex at = proxy->mapFromSource(m_passModel->index(i, 0));
            ui->passTable->selectRow(at.row());
        });
    }
    m_passView->show();
    m_passView->raise();
    m_passView->showIndex(index);
    return true;
}

void ViewerWindow::startWith(const QString& tab, bool reanalyse, int pass)
{
    const QMap<QString, QWidget*> tabs{{QStringLiteral("passes"), ui->passesTab},
                                       {QStringLiteral("statistics"), ui->statisticsTab},
                                       {QStringLiteral("distribution"), ui->distributionTab},
                                       {QStringLiteral("reanalysis"), ui->reanalysisTab},
                                       {QStringLiteral("compare"), ui->compareTab}};
    if (reanalyse)
        reanalyseSeries();
    if (tabs.contains(tab))
        ui->tabs->setCurrentWidget(tabs.value(tab));
    if (pass > 0 && m_series) {
        const int index = m_series->indexOf(pass);
        if (index < 0 || !showPass(index))
            statusBar()->showMessage(QStringLiteral("The series has no pass %1.").arg(pass));
    }
}

void ViewerWindow::on_passTable_doubleClicked(const QModelIndex& index)
{
    showPass(rowIndex(index));
}

void ViewerWindow::on_showPassButton_clicked()
{
    const QModelIndexList rows = ui->passTable->selectionModel()->selectedRows();
    showPass(rows.isEmpty() ? 0 : rowIndex(rows.first()));
}

void ViewerWindow::saveExport(const QByteArray& data, const QString& suggestedName)
{
    const QString path = askSavePath(QStringLiteral("Export"), suggestedName);
    if (path.isEmpty())
        return;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        QMessageBox::warning(
            this, QStringLiteral("Export"),
            QStringLiteral("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
        return;
    }
    statusBar()->showMessage(QStringLiteral("Written: %1").arg(QDir::toNativeSeparators(path)));
}

void ViewerWindow::on_exportCsvButton_clicked()
{
    if (m_series)
        saveExport(seriesCsv(*m_series), m_series->entry.stamp + QStringLiteral("Export.csv"));
}

void ViewerWindow::on_exportJsonButton_clicked()
{
    if (m_series)
        saveExport(seriesJson(*m_series), m_series->entry.stamp + QStringLiteral("Export.json"));
}

void ViewerWindow::on_exportReCsvButton_clicked()
{
    if (m_series && m_hasReanalysis)
        saveExport(reanalysisCsv(*m_series, m_reanalysis, appliedCalibration()),
                   m_series->entry.stamp + QStringLiteral("Reanalysis.csv"));
}

void ViewerWindow::on_exportReJsonButton_clicked()
{
    if (m_series && m_hasReanalysis)
        saveExport(reanalysisJson(*m_series, m_reanalysis, appliedCalibration()),
                   m_series->entry.stamp + QStringLiteral("Reanalysis.json"));
}

void ViewerWindow::on_browseButton_clicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Data Folder"), m_folder);
    if (!dir.isEmpty())
        openFolder(dir);
}

void ViewerWindow::on_folderEdit_returnPressed()
{
    openFolder(QDir::fromNativeSeparators(ui->folderEdit->text()));
}

void ViewerWindow::on_actionOpenSeries_triggered()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Series"), m_folder,
                                                      QStringLiteral("Series files (*_Results.txt *_Passes.csv *.bin);;"
                                                                     "All files (*)"));
    if (!path.isEmpty())
        openPath(path);
}
