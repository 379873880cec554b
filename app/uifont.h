// The user-interface font. Both windows place their controls at fixed
// pixel positions drawn for narrow fonts; with a wide default font (DejaVu
// Sans 9 pt on a stock Linux desktop) their texts get cut off.
#pragma once

#include <QFont>
#include <QStringList>

class QWidget;

// Texts that the widgets under `root` cannot show whole with their fonts, one
// line each ("OsIp: \"TCPIP::...\" needs 170x15 px, has 153x16"): labels,
// buttons and check boxes (their decorations taken off), line edits (spin
// boxes' fields included) and combo-box items. A label's text also must not
// run into a neighbouring control. Layouts must have run (window shown).
QStringList clippedTexts(const QWidget* root);

// Sets the application font, before any window exists: the platform's own
// when both windows show all their texts with it, else the largest of a few
// narrow candidates that does, else (with a warning) the platform's. The
// windows are measured as they appear at the platform's dpi, with their
// longest texts ("Ready", "-2000.000"). Returns the font set.
QFont chooseUiFont();
