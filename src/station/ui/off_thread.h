#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <utility>

namespace pelvaron::ui {

// Runs work on a thread of Qt's pool, neither the window's nor the console's
// (hashing a secret takes a tenth of a second, a busy store up to seconds),
// then done with its result on the window's thread; not when context has
// gone meanwhile.
template <class R>
void RunOffThread(QObject* context, std::function<R()> work, std::function<void(R)> done) {
  QPointer<QObject> guard(context);
  QThreadPool::globalInstance()->start([guard, work = std::move(work), done = std::move(done)] {
    auto result = std::make_shared<R>(work());
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, result, done] {
          if (guard) done(std::move(*result));
        },
        Qt::QueuedConnection);
  });
}

}  // namespace pelvaron::ui
