#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "app/console.h"
#include "app/console_access.h"
#include "app/console_hooks.h"
#include "app/console_ports.h"
#include "app/options.h"
#include "objects/object_card.h"

class QTimer;

namespace pelvaron::ui {

// The Console on a thread of its own, ticking by its own timer. Everything
// reaches it as a queued call, so the window never waits for an exchange.
class ConsoleWorker : public QObject, public ConsoleAccess {
  Q_OBJECT
 public:
  ConsoleWorker(PortsFactory factory, Options options, std::function<void(ObjectRegistry&)> afterStartup,
                Operator* op, ConsoleHooks hooks = {});
  ~ConsoleWorker() override;

  // Only on the worker's thread.
  Console& console() override { return *console_; }
  ObjectCard& card() override { return card_; }

 public slots:
  void start();
  // Stops the tick and shuts the console down (port closed, closing line written).
  void stop();

 private:
  PortsFactory factory_;
  Options options_;
  std::function<void(ObjectRegistry&)> afterStartup_;
  Operator* op_;
  ConsoleHooks hooks_;
  ConsolePorts ports_;
  std::unique_ptr<Console> console_;
  QTimer* timer_ = nullptr;
  ObjectCard card_;
};

}  // namespace pelvaron::ui
