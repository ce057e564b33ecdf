// Background colours of the window's indicator panels and labels. The form gives them their
// look (border, font) through style sheets; the colour is painted underneath, so a change costs
// one repaint and never a restyle.
#pragma once

#include <QColor>

class QWidget;

// Sets the background colour; setting the colour a widget already has costs nothing.
void SetPanelColour(QWidget* widget, QColor colour);
// The background colour as last set, or as the form's style sheet gives it.
QColor PanelColour(const QWidget* widget);
