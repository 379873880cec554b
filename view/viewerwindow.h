// The series viewer's main window: the series of a data folder, and for the
// chosen one its passes, statistics, distribution plots, re-analysis and a
// comparison with another series. The slots only read the form and hand the
// work to the plain functions of series.h, reanalysis.h, exporting.h and
// distplots.h.
#pragma once

#include "reanalysis.h"
#include "storedseries.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSharedPointer>

#include <functional>

class PassView;
class QTreeWidgetItem;
class Ui_ViewerWindow;

namespace graph {
class PlotNavigation;
}
namespace view {
class ColumnTable;
}

class ViewerWindow : public QMainWindow
{
    Q_OBJECT

public:
    // programDir: the program's data folder. Its settings file gives the
    // default family of series that do not record theirs; the viewer keeps
    // its own settings beside it.
    explicit ViewerWindow(const QString& programDir, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    void openFolder(const QString& folder);
    // A folder, or any file of a series (its folder is listed, it is chosen).
    bool openPath(const QString& path);
    bool openSeries(const view::SeriesEntry& entry);

    const view::Series* series() const { return m_series.data(); }
    const view::Reanalysis& reanalysis() const { return m_reanalysis; }
    const QVector<view::SeriesEntry>& entries() const { return m_entries; }
    PassView* passView() const;

    // Shows the pass at `index` of the series in the pass window.
    bool showPass(int index);
    // Re-analyses the series with progress and Cancel; false when it did not run.
    bool reanalyseSeries();
    // What the command line asks to see first: a tab by name, the
    // re-analysis, a pass by number (0: none).
    void startWith(const QString& tab, bool reanalyse, int pass);
    // The family of series that do not record it, given instead of asked
    // (0 first, 1 second, -1 ask).
    void setFamilyAnswer(int family) { m_familyAnswer = family; }

    // The operator's answer for a series that does not record its family:
    // 0 first, 1 second, -1 when the question was cancelled.
    std::function<int(const view::Series&, int defaultFamily, const QString& hint)> askFamily;
    // Where an export goes; empty cancels.
    std::function<QString(const QString& title, const QString& suggestedName)> askSavePath;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_browseButton_clicked();
    void on_refreshButton_clicked() { openFolder(m_folder); }
    void on_folderEdit_returnPressed();
    void on_seriesList_currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void on_passTable_doubleClicked(const QModelIndex& index);
    void on_showPassButton_clicked();
    void on_exportCsvButton_clicked();
    void on_exportJsonButton_clicked();
    void on_delayBox_currentIndexChanged(int) { fillDistribution(); }
    void on_reanalyseButton_clicked() { reanalyseSeries(); }
    void on_applyCalibration_toggled(bool) { calibrationChanged(); }
    void on_calRf_valueChanged(double) { calibrationChanged(); }
    void on_calHd_valueChanged(double) { calibrationChanged(); }
    void on_calSnk_valueChanged(double) { calibrationChanged(); }
    void on_exportReCsvButton_clicked();
    void on_exportReJsonButton_clicked();
    void on_compareBox_currentIndexChanged(int index);
    void on_compareDelayBox_currentIndexChanged(int) { fillCompare(); }
    void on_actionOpenFolder_triggered() { on_browseButton_clicked(); }
    void on_actionOpenSeries_triggered();
    void on_actionQuit_triggered() { close(); }

private:
    bool ensureFamily();
    void fillSeriesList();
    void fillSeriesTabs();
    void fillStatistics();
    void fillDistribution();
    void fillReanalysis();
    void fillCompare();
    void calibrationChanged();
    const view::Calibration* appliedCalibration() const;
    void saveExport(const QByteArray& data, const QString& suggestedName);
    int rowIndex(const QModelIndex& proxyIndex) const;

    Ui_ViewerWindow* ui = nullptr;
    QString m_programDir;
    QString m_settingsPath;
    QString m_folder;
    QVector<view::SeriesEntry> m_entries;
    QSharedPointer<view::Series> m_series;
    view::Series m_other;
    bool m_hasOther = false;
    view::Reanalysis m_reanalysis;
    bool m_hasReanalysis = false;
    view::Calibration m_calibration;
    double m_resolution = 0.0;  // sample period of the series, ms: the statistics' resolution
    view::ColumnTable* m_passModel = nullptr;
    view::ColumnTable* m_reModel = nullptr;
    QPointer<PassView> m_passView;
    QHash<QString, int> m_familyAnswers;  // per series, for this session
    bool m_filling = false;
    int m_familyAnswer = -1;
    bool m_sized = false;
    QVector<graph::PlotNavigation*> m_navs;
};
