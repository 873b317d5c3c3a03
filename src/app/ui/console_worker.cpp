#include "console_worker.h"

#include <QTimer>

namespace pelvaron::ui {

ConsoleWorker::ConsoleWorker(PortsFactory factory, Options options,
                             std::function<void(ObjectRegistry&)> afterStartup, Operator* op, ConsoleHooks hooks)
    : factory_(std::move(factory)),
      options_(std::move(options)),
      afterStartup_(std::move(afterStartup)),
      op_(op),
      hooks_(std::move(hooks)) {}

ConsoleWorker::~ConsoleWorker() = default;

void ConsoleWorker::start() {
  ports_ = factory_();
  console_ = std::make_unique<Console>(*ports_.clock, *ports_.files, *op_, *ports_.port, options_.devices);
  console_->bAlarmSound = options_.alarmSound;
  console_->bAlarmBeep = options_.alarmBeep;
  if (hooks_.beforeStartup) hooks_.beforeStartup(*console_, *op_);
  console_->Startup();
  if (afterStartup_) afterStartup_(console_->Objects());
  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, [this] {
    console_->OnTimer();
    if (hooks_.afterTick) hooks_.afterTick(*console_);
  });
  timer_->start(options_.tickMs);
  if (!timer_->isActive()) op_->ShowMessage({"Cannot install timer", "Error message", MessageIcon::Error});
}

void ConsoleWorker::stop() {
  if (timer_) timer_->stop();
  if (!console_ || console_->IsShutDown()) return;
  console_->Shutdown();
  if (hooks_.afterShutdown) hooks_.afterShutdown(*console_);
}

}  // namespace pelvaron::ui
