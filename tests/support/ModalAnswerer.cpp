#include "support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

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
    if (!modal || !modal->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        texts << box->text();
    if (whileOpen)
        whileOpen();
    answer_(modal);
}
