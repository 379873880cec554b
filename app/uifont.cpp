#include "uifont.h"

#include "graph.h"
#include "instrumentinit.h"
#include "ui_mainwindow.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QtDebug>

#include <memory>

namespace {

// What QLineEdit keeps free beside its text, and the cursor after it.
constexpr int kLineEditMargin = 2;
constexpr int kCursorWidth = 1;

// A button shows '&' only as the underline of the next character.
QString withoutMnemonic(QString text)
{
    for (int i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('&'))
            text.remove(i, 1);  // "&&" keeps one
    return text;
}

bool fits(const QSize& need, const QSize& room)
{
    return need.width() <= room.width() && need.height() <= room.height();
}

QString sizeText(const QSize& s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// A spin box's field is reported by the spin box's name.
QString nameOf(const QWidget* w)
{
    if (w->objectName().startsWith(QLatin1String("qt_")) && w->parentWidget())
        return w->parentWidget()->objectName();
    return w->objectName();
}

void check(QStringList* out, const QWidget* w, const QString& text, const QSize& need, const QSize& room)
{
    if (!fits(need, room))
        *out << QStringLiteral("%1: \"%2\" needs %3 px, has %4").arg(nameOf(w), text, sizeText(need), sizeText(room));
}

// Controls a label's text must keep clear of.
bool isControl(const QWidget* w)
{
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w)
           || qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

void checkLabel(QStringList* out, const QLabel* l, const QWidget* root)
{
    if (l->text().isEmpty())
        return;
    const QFontMetrics fm(l->font());
    const int m = l->margin();
    const QRect room = l->contentsRect().adjusted(m, m, -m, -m);
    const QSize need = fm.size(0, l->text());
    check(out, l, l->text(), need, room.size());
    const QRect placed = QStyle::alignedRect(l->layoutDirection(), l->alignment(), need, room).translated(l->pos());
    for (const QObject* o : l->parentWidget()->children()) {
        const auto* other = qobject_cast<const QWidget*>(o);
        if (other && other != l && isControl(other) && other->isVisibleTo(root) && other->geometry().intersects(placed))
            *out << QStringLiteral("%1: \"%2\" runs into %3").arg(l->objectName(), l->text(), other->objectName());
    }
}

void checkButton(QStringList* out, const QAbstractButton* b)
{
    const QString text = withoutMnemonic(b->text());
    if (text.isEmpty())
        return;
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    QStyle::SubElement contents = QStyle::SE_CheckBoxContents;
    if (const auto* p = qobject_cast<const QPushButton*>(b)) {
        contents = QStyle::SE_PushButtonContents;
        if (p->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        if (p->isDefault())
            opt.features |= QStyleOptionButton::DefaultButton;
    } else if (!qobject_cast<const QCheckBox*>(b)) {
        contents = QStyle::SE_RadioButtonContents;
    }
    const QRect room = b->style()->subElementRect(contents, &opt, b);
    check(out, b, text, QFontMetrics(b->font()).size(0, text), room.size());
}

void checkLineEdit(QStringList* out, const QLineEdit* e)
{
    QStyleOptionFrame opt;
    opt.initFrom(e);
    opt.rect = e->contentsRect();
    opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    const QRect r = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).marginsRemoved(e->textMargins());
    const QFontMetrics fm(e->font());
    const QString text = e->displayText();
    const QSize need(fm.horizontalAdvance(text) + kCursorWidth, fm.height());
    check(out, e, text, need, QSize(r.width() - 2 * kLineEditMargin, r.height()));
}

void checkComboBox(QStringList* out, const QComboBox* c)
{
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    opt.frame = c->hasFrame();
    // The label is drawn one pixel in from each side of the edit field.
    const QRect r =
        c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).adjusted(1, 0, -1, 0);
    const QFontMetrics fm(c->font());
    for (int i = 0; i < c->count(); ++i)
        check(out, c, c->itemText(i), fm.size(0, c->itemText(i)), r.size());
}

// The two windows with their longest texts, shown without reaching the screen.
struct Probes
{
    QMainWindow main;
    Ui_MainWindow form;
    std::unique_ptr<Graph> graph;

    Probes()
    {
        form.setupUi(&main);
        for (QPushButton* b : {form.OsInit, form.SaInit, form.VaInit})
            b->setText(QLatin1String(setup::kReadyText));
        graph.reset(new Graph);
        for (QDoubleSpinBox* box : graph->findChildren<QDoubleSpinBox*>())
            box->setValue(box->minimum());
        for (QWidget* w : {static_cast<QWidget*>(&main), static_cast<QWidget*>(graph.get())}) {
            w->setAttribute(Qt::WA_DontShowOnScreen);
            w->show();
        }
    }

    // With the application font as it is now: a change reaches every widget
    // at once, the layouts (a dialog's button box) once they have run again.
    QStringList clipped()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return clippedTexts(&main) + clippedTexts(graph.get());
    }
};

QList<QFont> candidates(const QFont& platform)
{
    QList<QFont> list{platform};
    double pt = platform.pointSizeF();
    if (pt <= 0)
        pt = QFontInfo(platform).pointSizeF();
    // Narrow families first at each size, the platform's own family only
    // smaller than it came. Below 6 pt nothing is readable any more.
    const QStringList narrow{QStringLiteral("Liberation Sans Narrow")};
    const QFontDatabase db;
    for (double s = pt; s >= 6.0; s -= 0.5) {
        for (const QString& family : narrow) {
            if (!db.hasFamily(family))
                continue;
            QFont f(family);
            f.setPointSizeF(s);
            list << f;
        }
        if (s < pt) {
            QFont f = platform;
            f.setPointSizeF(s);
            list << f;
        }
    }
    return list;
}

}  // namespace

QStringList clippedTexts(const QWidget* root)
{
    QStringList out;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root))
            continue;
        if (const auto* l = qobject_cast<const QLabel*>(w))
            checkLabel(&out, l, root);
        else if (const auto* b = qobject_cast<const QAbstractButton*>(w))
            checkButton(&out, b);
        else if (const auto* e = qobject_cast<const QLineEdit*>(w))
            checkLineEdit(&out, e);
        else if (const auto* c = qobject_cast<const QComboBox*>(w))
            checkComboBox(&out, c);
    }
    return out;
}

QFont chooseUiFont()
{
    const QFont platform = QApplication::font();
    // Both windows are built once and measured in each candidate in turn.
    Probes probes;
    QStringList firstClips;
    for (const QFont& f : candidates(platform)) {
        QApplication::setFont(f);
        const QStringList clips = probes.clipped();
        if (clips.isEmpty())
            return f;
        if (firstClips.isEmpty())
            firstClips = clips;
    }
    QApplication::setFont(platform);
    qWarning().noquote() << "No font shows every text of the windows whole; texts cut off:\n"
                         << firstClips.join(QLatin1Char('\n'));
    return platform;
}
