// Background colours of the window's indicator panels and labels. The form gives them their
// look (border, font) through style sheets, so a colour change rewrites only the sheet's
// background and leaves the rest of the look alone.
#pragma once

#include <QColor>

class QWidget;

// Sets the background colour; setting the colour a widget already has costs nothing.
void SetPanelColour(QWidget* widget, QColor colour);
// The background colour as last set, or as the form's style sheet gives it.
QColor PanelColour(const QWidget* widget);
