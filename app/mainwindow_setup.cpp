// The three Init buttons: read the form, run the instrument's set-up
// sequence on its session, show "Ready" or "Init", and after a failure say
// where it failed.
#include "mainwindow.h"

#include "fields.h"
#include "globals.h"
#include "instrumentinit.h"
#include "sequence.h"
#include "ui_mainwindow.h"
#include "visabinding.h"

#include <QApplication>
#include <QMessageBox>
#include <QStatusBar>

#include <functional>
#include <optional>

namespace {

// Swallows the operator's input while it is discarded.
class InputSink : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            return true;
        default:
            return false;
        }
    }
};

// An Init blocks the window for up to its time-outs. Meanwhile the button is
// disabled under a busy cursor; clicks and keys the operator gave while
// nothing could answer are dropped at the end instead of starting further
// Inits once the window responds again.
class InitBusy
{
public:
    explicit InitBusy(QPushButton* button)
        : m_button(button), m_wasEnabled(button->isEnabled()), m_hadFocus(button->window()->focusWidget() == button)
    {
        m_button->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~InitBusy() { end(); }
    void end()
    {
        if (!m_button)
            return;
        InputSink sink;
        qApp->installEventFilter(&sink);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        qApp->removeEventFilter(&sink);
        QApplication::restoreOverrideCursor();
        m_button->setEnabled(m_wasEnabled);
        // Disabling passed the focus on to the next field, which selected its
        // text for the next keystroke to replace; it comes back here.
        if (m_hadFocus)
            m_button->setFocus(Qt::OtherFocusReason);
        m_button = nullptr;
    }

private:
    QPushButton* m_button;
    bool m_wasEnabled;
    bool m_hadFocus;
};

bool isChecked(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked;
}

// "VI_ERROR_TMO: The time-out expired ..." -> "VI_ERROR_TMO".
QString statusName(const QString& text)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    return colon > 0 ? text.left(colon) : text;
}

// Shows the outcome on the button; the readiness protocol knows only these
// two texts. A failure is explained in the button's tool tip and the status
// bar (which each press clears); a success clears the tool tip.
void showOutcome(QPushButton* button, QStatusBar* bar, const QString& instrument, const setup::Result& r, ViSession rm,
                 const QString& resource)
{
    const bool ready = r.status == VI_SUCCESS;
    button->setText(QLatin1String(ready ? setup::kReadyText : setup::kInitText));
    button->setToolTip(QString());
    if (ready)
        return;
    const QString prefix = instrument + QStringLiteral(" Init");
    // The first failure is the cause; a set-up that went on after it (a
    // skipped group) ended at a later step, named after it.
    const QString status = visaStatusText(rm, r.first.status);
    QString tip = QStringLiteral("%1 failed at %2\n%3\nResource: %4").arg(prefix, r.first.step, status, resource);
    if (r.first.step != r.decisive.step || r.first.status != r.decisive.status)
        tip += QStringLiteral("\nIt went on and ended at %1\n%2")
                   .arg(r.decisive.step, visaStatusText(rm, r.decisive.status));
    button->setToolTip(tip);
    bar->showMessage(
        QStringLiteral("%1 failed at %2: %3 (%4)").arg(prefix, r.first.step, statusName(status), resource));
}

// Without a VISA library an Init has nothing to run on: say so, and why.
void explainNoVisa(QWidget* parent, const QString& instrument)
{
    QMessageBox::warning(
        parent, QStringLiteral("VISA Error"),
        QStringLiteral("The %1 Init cannot run: no VISA library is loaded.\n\nTried, in this order:\n%2")
            .arg(instrument, visaLoadReport().join(QLatin1Char('\n'))));
}

// The number of a field, or a refusal naming it on the status bar and in the
// Init button's tool tip: a value that is not a finite number never goes
// into a command.
bool readField(QPushButton* button, QStatusBar* bar, const QString& field, const QString& text, double* value)
{
    if (setup::parseSettingNumber(text, value))
        return true;
    bar->showMessage(setup::badFieldMessage(field, text));
    button->setToolTip(bar->currentMessage());
    return false;
}

// One Init button: the controls it reads and what it keeps of the
// instrument in the window.
struct InitPress
{
    QPushButton* button;
    QString instrument;       // as the operator is told
    QString field;            // label of the number the set-up sends
    const QLineEdit* number;  // that number's field
    const QLineEdit* resource;
    double* value;  // the number sent
    QString* resourceUsed;
    ViSession* session;
};

// A press of any of the three Init buttons: busy while it runs, refused
// without a VISA library or with a field that is not a number, else the
// set-up that `sequence` makes from the field's number, its outcome shown on
// the button. Empty when nothing was sent.
std::optional<setup::Result> pressInit(QMainWindow* window, const InitPress& p, bool visaOk, ViSession rm,
                                       const std::function<setup::Sequence(double)>& sequence)
{
    InitBusy busy(p.button);
    p.button->setText(QLatin1String(setup::kInitText));
    QCoreApplication::processEvents();
    if (!visaOk) {
        busy.end();
        explainNoVisa(window, p.instrument);
        return std::nullopt;
    }

    QStatusBar* bar = window->statusBar();
    bar->clearMessage();
    double v = 0.0;
    if (!readField(p.button, bar, p.field, p.number->text(), &v))
        return std::nullopt;
    *p.value = v;
    *p.resourceUsed = p.resource->text();
    const setup::Result r = setup::initInstrument(sequence(v), rm, *p.resourceUsed, p.session);
    busy.end();
    showOutcome(p.button, bar, p.instrument, r, rm, *p.resourceUsed);
    return r;
}

}  // namespace

void MainWindow::on_OsInit_clicked()
{
    const InitPress p{ui->OsInit,
                      QStringLiteral("Oscilloscope"),
                      QStringLiteral("Trigger Level"),
                      ui->OsTrgLvl,
                      ui->OsIp,
                      &trgLvl,
                      &osRsrc,
                      &osHdl};
    pressInit(this, p, visaOk, rm, [this](double level) {
        setup::OscilloscopeParams s;
        s.type = g_osTyp;
        s.reset = isChecked(ui->OsRst);
        s.ifDemod = isChecked(ui->SaIfDem);
        s.triggerLevel = level;
        return setup::oscilloscopeSequence(s);
    });
    UndimStart();
}

void MainWindow::on_SaInit_clicked()
{
    const InitPress p{ui->SaInit,
                      QStringLiteral("Spectrum Analyzer"),
                      QStringLiteral("Center Frequency"),
                      ui->SaFrq,
                      ui->SaIp,
                      &ctrFrq,
                      &saRsrc,
                      &saHdl};
    const auto r = pressInit(this, p, visaOk, rm, [this](double frequency) {
        setup::AnalyzerParams s;
        s.oscilloscopeType = g_osTyp;
        // Reset like the other two instruments when its box is ticked.
        s.reset = isChecked(ui->SaRst);
        s.centreFrequency = frequency;
        return setup::analyzerSequence(s);
    });
    if (r)
        saIdn = r->identification;
    UndimStart();
}

void MainWindow::on_VaInit_clicked()
{
    const InitPress p{ui->VaInit,
                      QStringLiteral("Video Analyzer"),
                      QStringLiteral("Threshold"),
                      ui->VaThres,
                      ui->VaIp,
                      &vaThres,
                      &vaRsrc,
                      &vaHdl};
    pressInit(this, p, visaOk, rm, [this](double threshold) {
        setup::VideoParams s;
        s.reset = isChecked(ui->VaRst);
        s.threshold = threshold;
        return setup::videoSequence(s);
    });
    UndimStart();
}
