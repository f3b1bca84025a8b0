#pragma once

// What the tests of the control panel's windows share: the main window's
// parts found as a user meets them (by their object names), nodes of the
// tree clicked, and modal dialogs handled when they open.
#include "panel/windows/MainForm.h"
#include "panel/windows/NavigationTree.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

namespace testing_support {

template <typename T>
T* Part(QWidget& window, const char* name = nullptr)
{
    return name ? window.findChild<T*>(name) : window.findChild<T*>();
}

inline panel::NavigationTree* Tree(QWidget& form) { return Part<panel::NavigationTree>(form); }

inline QTreeWidgetItem* Node(QWidget& form, const QString& text)
{
    const auto found = Tree(form)->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// A click on the node, as the user makes it.
inline void Click(QWidget& form, const QString& text)
{
    QTreeWidgetItem* node = Node(form, text);
    Tree(form)->setCurrentItem(node);
    emit Tree(form)->itemClicked(node, 0);
}

// Runs handle on the next modal dialog to open, once trigger has opened it;
// the dialog is closed afterwards when handle did not close it. False when
// none opened within a few seconds.
inline bool WithModal(const std::function<void()>& trigger, const std::function<void(QDialog*)>& handle)
{
    QWidget* before = QApplication::activeModalWidget();
    bool seen = false;
    auto* timer = new QTimer;
    int tries = 0;
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if ((dialog && dialog != before) || ++tries > 300) {
            timer->stop();
            if (dialog && dialog != before) {
                seen = true;
                handle(dialog);
                if (dialog->isVisible())
                    dialog->reject();
            }
        }
    });
    timer->start(10);
    trigger();
    delete timer;
    return seen;
}

}  // namespace testing_support
