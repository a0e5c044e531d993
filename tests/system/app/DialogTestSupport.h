#pragma once

// What the dialog tests share: answers for the file chooser and the modal dialogs that open
// while a test runs, given from timers since their modal loops hold the test.

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <functional>

// Answers the next file chooser that opens: types `path` into its file-name field and accepts,
// or cancels when `path` is empty. The chooser runs a nested modal loop, so the answer comes
// from a timer that waits for it.
inline void AnswerNextFileChooser(const QString& path)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, path] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        timer->stop();
        timer->deleteLater();
        if (path.isEmpty()) {
            chooser->reject();
            return;
        }
        // The name goes into the field itself: selectFile does not reach a focused field.
        if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        static_cast<QDialog*>(chooser)->accept(); // protected in QFileDialog
    });
    timer->start();
}

// Runs `action` once the next modal dialog is up. The timer it returns waits until then; delete
// it if no dialog is to come, or it will answer the next test's.
inline QTimer* WhenModalOpens(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
    return timer;
}
