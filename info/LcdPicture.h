#pragma once
// A sound module's 16 x 16 dot display, drawn as its LCD: dark dots on the lit panel,
// the dots that are off faintly visible.

#include "platform/midi/file/ModuleDisplay.h"

#include <QWidget>

class LcdPicture : public QWidget {
    Q_OBJECT

public:
    explicit LcdPicture(QWidget* parent = nullptr);

    /// The dots to show; all off for a display that has no picture.
    void setDots(const sequora::midi::ModuleDisplay& display);
    const sequora::midi::ModuleDisplay& dots() const { return m_display; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    sequora::midi::ModuleDisplay m_display;
};
