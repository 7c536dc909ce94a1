// Showing plain window state on Qt widgets: texts, enabled flags, timers.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <string>

#include "app/form.h"

namespace zqd::ui {

inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// A label's caption; a label that grows to fit its text is resized to it.
inline void ShowLabel(QLabel* label, const Control& c, bool grow = true) {
    if (label->text() == Q(c.Text)) return;
    label->setText(Q(c.Text));
    if (grow) label->adjustSize();
}

inline void ShowButton(QPushButton* button, const Control& c) {
    if (button->text() != Q(c.Text)) button->setText(Q(c.Text));
    button->setEnabled(c.Enabled);
}

inline void ShowEdit(QLineEdit* edit, const Control& c) {
    if (edit->text() != Q(c.Text)) edit->setText(Q(c.Text));
}

inline void ShowCheck(QCheckBox* box, const Control& c) {
    if (box->text() != Q(c.Text)) box->setText(Q(c.Text));
    if (box->isChecked() != c.Checked) box->setChecked(c.Checked);
    box->setEnabled(c.Enabled);
}

inline void ShowTimer(QTimer* timer, const Timer& t) {
    timer->setInterval(t.Interval);
    if (t.Enabled && !timer->isActive()) timer->start();
    if (!t.Enabled && timer->isActive()) timer->stop();
}

// Edits the user makes in a box go straight into the window state.
inline void BindEdit(QLineEdit* edit, Control& control) {
    QObject::connect(edit, &QLineEdit::textEdited, edit,
                     [&control](const QString& text) { control.Text = text.toUtf8().toStdString(); });
}

inline void BindCheck(QCheckBox* box, Control& control) {
    QObject::connect(box, &QCheckBox::toggled, box, [&control](bool on) { control.Checked = on; });
}

}  // namespace zqd::ui
