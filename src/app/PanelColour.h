// Background colours of the window's indicator panels and labels. The form gives them their
// look (border, font) through style sheets; the colour is painted underneath, so a change costs
// one repaint and never a restyle.
#pragma once

#include <QColor>

class QWidget;

// The colours the panels show, as the design names them.
inline const QColor kGrey(0x80, 0x80, 0x80);
inline const QColor kRed(0xFF, 0x00, 0x00);
inline const QColor kOrange(0xFF, 0xAA, 0x00);
inline const QColor kViolet(0xEE, 0x82, 0xEE);
inline const QColor kWhite(0xFF, 0xFF, 0xFF);
inline const QColor kBlue(0x00, 0x00, 0xFF);
inline const QColor kLime(0x00, 0xFF, 0x00);
inline const QColor kGreen(0x00, 0x80, 0x00);

// Sets the background colour; setting the colour a widget already has costs nothing.
void SetPanelColour(QWidget* widget, QColor colour);
// The background colour as last set, or as the form's style sheet gives it.
QColor PanelColour(const QWidget* widget);
