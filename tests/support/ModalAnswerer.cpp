#include "support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

ModalAnswerer::ModalAnswerer(QString button)
    : ModalAnswerer([button](QWidget* modal) {
          auto* box = qobject_cast<QMessageBox*>(modal);
          if (!box)
              qFatal("a modal window that is no message box: %s", modal->metaObject()->className());
          for (QAbstractButton* candidate : box->buttons())
              if (candidate->text() == button) {
                  candidate->click();
                  return;
              }
          qFatal("no button %s in the box", qPrintable(button));
      })
{
}

ModalAnswerer::ModalAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer))
{
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer_.start(10);
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        answering_ = nullptr;
        return;
    }
    if (modal != answering_) {
        answering_ = modal;
        answeringSince_.start();
    } else if (answeringSince_.hasExpired(kDeadlineMs)) {
        const auto* box = qobject_cast<QMessageBox*>(modal);
        const QString what = QStringLiteral("the %1 %2").arg(QLatin1String(modal->metaObject()->className()),
                                                             box ? QStringLiteral("\"%1\"").arg(box->text()) : modal->windowTitle());
        QTest::qFail(qPrintable(QStringLiteral("%1 was answered but is still open after %2 s")
                                    .arg(what)
                                    .arg(kDeadlineMs / 1000)),
                     __FILE__, __LINE__);
        answering_ = nullptr;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->close();
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        texts << box->text();
    if (whileOpen)
        whileOpen();
    answer_(modal);
}
