#include "platform/qt_serial_port.h"

#include <QSerialPort>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "link/read_deadline.h"

namespace pelvaron {

namespace {

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Qt keeps no errno; the kinds it tells apart map to the nearest one.
int ErrnoOf(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::NoError:
      return 0;
    case QSerialPort::DeviceNotFoundError:
      return ENOENT;
    case QSerialPort::PermissionError:
      return EACCES;  // also a lock file held by another program
    case QSerialPort::OpenError:
      return EBUSY;
    case QSerialPort::UnsupportedOperationError:
      return ENOTTY;
    default:
      return EIO;
  }
}

QtMessageHandler previousHandler = nullptr;

// In a thread without a Qt event loop Qt warns that the port's socket
// notifiers stay off. Nothing here needs them (every wait is synchronous), so
// that one warning is dropped; every other message goes on as before.
void QuietNotifierWarnings() {
  if (QThread::currentThread()->eventDispatcher() != nullptr) return;
  static std::once_flag once;
  std::call_once(once, [] {
    previousHandler =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
          if (type == QtWarningMsg &&
              text.startsWith(QLatin1String("QSocketNotifier: Can only be used with threads"))) {
            return;
          }
          if (previousHandler) previousHandler(type, context, text);
        });
  });
}

}  // namespace

struct QtSerialPort::Impl {
  std::unique_ptr<QSerialPort> port;
  CommTimeouts timeouts{CommTimeouts::kNoWait, 0, 0, 0, 0};  // until told: never block
  std::string lastError;
};

QtSerialPort::QtSerialPort() : d_(std::make_unique<Impl>()) {}

QtSerialPort::~QtSerialPort() {
  Close();
}

int QtSerialPort::Open(const std::string& devicePath) {
  Close();
  QuietNotifierWarnings();
  auto port = std::make_unique<QSerialPort>();
  // A path starting with '/' is taken as it is, not looked up under /dev.
  port->setPortName(QString::fromStdString(devicePath));
  if (!port->open(QIODevice::ReadWrite)) {
    d_->lastError = port->errorString().toStdString();
    int code = ErrnoOf(port->error());
    return code ? code : EIO;
  }
  d_->lastError.clear();
  d_->port = std::move(port);
  d_->timeouts = CommTimeouts{CommTimeouts::kNoWait, 0, 0, 0, 0};
  return 0;
}

bool QtSerialPort::IsOpen() const {
  return d_->port && d_->port->isOpen();
}

void QtSerialPort::Close() {
  if (!d_->port) return;
  d_->port->close();
  d_->port.reset();
}

bool QtSerialPort::GetLineSettings(LineSettings& s) {
  if (!IsOpen()) return false;
  QSerialPort& p = *d_->port;
  s.baudRate = p.baudRate();
  s.dataBits = static_cast<int>(p.dataBits());
  switch (p.parity()) {
    case QSerialPort::EvenParity:
      s.parity = Parity::Even;
      break;
    case QSerialPort::OddParity:
      s.parity = Parity::Odd;
      break;
    case QSerialPort::MarkParity:
      s.parity = Parity::Mark;
      break;
    case QSerialPort::SpaceParity:
      s.parity = Parity::Space;
      break;
    default:
      s.parity = Parity::None;
      break;
  }
  switch (p.stopBits()) {
    case QSerialPort::TwoStop:
      s.stopBits = StopBits::Two;
      break;
    case QSerialPort::OneAndHalfStop:
      s.stopBits = StopBits::OneAndHalf;
      break;
    default:
      s.stopBits = StopBits::One;
      break;
  }
  return true;
}

bool QtSerialPort::SetLineSettings(const LineSettings& s) {
  if (!IsOpen()) return false;
  QSerialPort& p = *d_->port;
  if (s.dataBits < 5 || s.dataBits > 8) return false;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  switch (s.parity) {
    case Parity::Even:
      parity = QSerialPort::EvenParity;
      break;
    case Parity::Odd:
      parity = QSerialPort::OddParity;
      break;
    case Parity::Mark:
      parity = QSerialPort::MarkParity;
      break;
    case Parity::Space:
      parity = QSerialPort::SpaceParity;
      break;
    case Parity::None:
      break;
  }
  QSerialPort::StopBits stop = s.stopBits == StopBits::Two          ? QSerialPort::TwoStop
                               : s.stopBits == StopBits::OneAndHalf ? QSerialPort::OneAndHalfStop
                                                                    : QSerialPort::OneStop;
  // Flow control and the rest stay as the driver has them.
  return p.setBaudRate(s.baudRate) && p.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
         p.setParity(parity) && p.setStopBits(stop);
}

bool QtSerialPort::SetEventMask(unsigned) {
  // Nothing here waits on port events; the mask has nothing to select.
  return IsOpen();
}

bool QtSerialPort::SetQueueSizes(std::size_t, std::size_t) {
  // A recommendation only: the kernel's tty queues are larger and Qt's buffer
  // is unbounded, and every exchange purges before it starts.
  return IsOpen();
}

bool QtSerialPort::Purge(unsigned flags) {
  if (!IsOpen()) return false;
  QSerialPort::Directions dirs;
  if (flags & PURGE_RXCLEAR) dirs |= QSerialPort::Input;
  if (flags & PURGE_TXCLEAR) dirs |= QSerialPort::Output;
  if (!dirs) return true;
  // Drops both what Qt already holds and what waits in the kernel.
  return d_->port->clear(dirs);
}

bool QtSerialPort::SetTimeouts(const CommTimeouts& t) {
  if (!IsOpen()) return false;
  d_->timeouts = t;
  return true;
}

std::size_t QtSerialPort::Write(const std::uint8_t* data, std::size_t size) {
  if (!IsOpen() || size == 0) return 0;
  QSerialPort& p = *d_->port;
  qint64 queued = p.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  if (queued <= 0) return 0;
  const auto& t = d_->timeouts;
  const bool bounded = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  const std::int64_t deadline =
      NowUs() + (static_cast<std::int64_t>(t.WriteTotalTimeoutMultiplier) * static_cast<std::int64_t>(size) +
                 t.WriteTotalTimeoutConstant) *
                    1000;
  const qint64 pendingBefore = p.bytesToWrite() - queued;
  while (p.bytesToWrite() > pendingBefore) {
    int waitMs = -1;
    if (bounded) {
      std::int64_t left = deadline - NowUs();
      if (left <= 0) break;
      waitMs = static_cast<int>((left + 999) / 1000);
    }
    if (!p.waitForBytesWritten(waitMs)) break;
  }
  qint64 unwritten = p.bytesToWrite() - pendingBefore;
  if (unwritten < 0) unwritten = 0;
  return static_cast<std::size_t>(queued - unwritten);
}

std::size_t QtSerialPort::Read(std::uint8_t* data, std::size_t size) {
  if (!IsOpen() || size == 0) return 0;
  QSerialPort& p = *d_->port;
  ReadDeadline deadline(d_->timeouts, size, NowUs());
  std::size_t got = 0;
  while (got < size) {
    if (p.bytesAvailable() > 0) {
      qint64 n = p.read(reinterpret_cast<char*>(data + got), static_cast<qint64>(size - got));
      if (n < 0) break;
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        deadline.BytesArrived(NowUs());
        continue;
      }
    }
    int waitMs = deadline.RemainingMs(NowUs());
    if (waitMs == 0) break;
    p.clearError();
    // Returns when bytes came, at the deadline, or at once on a dead device;
    // in the last case there is nothing more to wait for.
    if (!p.waitForReadyRead(waitMs) && p.error() != QSerialPort::TimeoutError) break;
  }
  return got;
}

std::string QtSerialPort::LastErrorText() const {
  return d_->lastError;
}

}  // namespace pelvaron
