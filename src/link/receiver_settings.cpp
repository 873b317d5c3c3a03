#include "link/receiver_settings.h"

#include <string>

namespace pelvaron {
namespace {

constexpr std::uint8_t kLineNotChecked = 0x40;
constexpr std::uint8_t kLineNotCheckedByte = 0x5D;  // 0x40 with 29 in the low bits
constexpr std::uint8_t kIntervals[] = {0, 4, 9, 29};

OperatorMessage PhaseMessage(int result, const char* noAnswer) {
  switch (result) {
    case 1:
      return {noAnswer, "Ошибка связи", MessageIcon::Error};
    case 2:
      return {"Нет маркера данных от Велдор!", "Ошибка", MessageIcon::Error};
    case 3:
      return {"Ошибка контрольной суммы!", "Ошибка", MessageIcon::Error};
    case 4:
      return {"Получен идентификатор объектового блока вместо идентификатора пультового!", "Ошибка",
              MessageIcon::Error};
    default:
      return {"Внимание, ошибка при записи, попробуйте ещё раз!", "Ошибка", MessageIcon::Error};
  }
}

template <typename Exchange>
int RunPhase(ReceiverLink& link, Operator& op, int attempts, Exchange exchange) {
  if (attempts < 1) attempts = 1;
  int r = 1;
  for (int k = 1; k <= attempts; ++k) {
    op.ExchangeProgress(true, kExchangeText, AttemptText(k, attempts));
    r = exchange();
    if (r == 0 || link.Cancelled()) break;
    link.WaitMs(400);
  }
  op.ExchangeProgress(false, "", "");
  return r;
}

}  // namespace

ReceiverPageValues PageFromBlock(const ParameterBlock& block) {
  const std::uint8_t* b = block.bytes;
  ReceiverPageValues page;
  page.m_nMainFormat = 1 - (b[0] & 0x01);
  page.m_nFormatCount = (b[0] >> 1) & 0x01;
  page.m_nPickupRings = (b[2] >= 1 && b[2] <= 5) ? b[2] - 1 : -1;
  page.m_bCheckLine = (b[3] & kLineNotChecked) ? 0 : 1;
  if (!page.m_bCheckLine) {
    page.m_nCheckInterval = 3;
  } else {
    for (int i = 0; i < 4; ++i) {
      if (b[3] == kIntervals[i]) page.m_nCheckInterval = i;
    }
  }
  return page;
}

ParameterBlock BlockFromPage(const ParameterBlock& read, const ReceiverPageValues& page) {
  ParameterBlock block = read;
  std::uint8_t* b = block.bytes;
  b[0] =
      static_cast<std::uint8_t>((page.m_nFormatCount == 1 ? 0x02 : 0) | (page.m_nMainFormat == 0 ? 0x01 : 0));
  b[2] = static_cast<std::uint8_t>((page.m_nPickupRings + 1) & 0x0F);
  if (!page.m_bCheckLine) {
    b[3] = kLineNotCheckedByte;
  } else {
    int row = page.m_nCheckInterval;
    b[3] = (row >= 0 && row <= 3) ? kIntervals[row] : 0;
  }
  return block;
}

std::string AttemptText(int k, int m) {
  return "Попытка связи " + std::to_string(k) + " из " + std::to_string(m);
}

OperatorMessage ReadPhaseMessage(int result) {
  return PhaseMessage(result, "Нет ответа от Велдор! \n Проверьте соединение Велдор с компьютером!");
}

OperatorMessage WritePhaseMessage(int result) {
  return PhaseMessage(result, "Нет ответа от Велдор!\n Проверьте соединение Велдор с компьютером!");
}

int RunReadPhase(ReceiverLink& link, Operator& op, int attempts, ParameterBlock& block) {
  return RunPhase(link, op, attempts, [&] { return link.ReadParameters(block); });
}

int RunWritePhase(ReceiverLink& link, Operator& op, int attempts, const ParameterBlock& block) {
  return RunPhase(link, op, attempts, [&] { return link.WriteParameters(block); });
}

}  // namespace pelvaron
