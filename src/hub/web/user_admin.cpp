#include "hub/web/user_admin.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "hub/web/user_store.h"

namespace pelvaron {

namespace {

// One line from stdin; with echo off when it is a terminal.
std::optional<std::string> ReadPassword(const std::string& prompt) {
  const bool terminal = ::isatty(STDIN_FILENO) != 0;
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (!read) return {};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> NewPassword(const std::string& name) {
  std::optional<std::string> password = ReadPassword("Новый пароль для " + name + ": ");
  if (!password) return {};
  if (::isatty(STDIN_FILENO) != 0) {
    std::optional<std::string> again = ReadPassword("Повторите пароль: ");
    if (!again || *again != *password) {
      std::cerr << "pelvaron-hub: пароли не совпали; ничего не изменено\n";
      return {};
    }
  }
  return password;
}

}  // namespace

int RunUserCommand(const WebOptions& options, const std::string& store) {
  Result<std::unique_ptr<WebDb>> db = OpenWebDb(store);
  if (!db) {
    std::cerr << "pelvaron-hub: " << db.problem().Told() << "\n";
    return 1;
  }
  Result<UserStore> users = UserStore::Open(**db);
  if (!users) {
    std::cerr << "pelvaron-hub: " << users.problem().Told() << "\n";
    return 1;
  }
  Result<> done;
  std::string told;
  if (options.userVerb == "remove") {
    done = users->Remove(options.userName);
    told = "Пользователь " + options.userName + " удалён.";
  } else {
    std::optional<std::string> password = NewPassword(options.userName);
    if (!password) {
      std::cerr << "pelvaron-hub: пароль не введён; ничего не изменено\n";
      return 1;
    }
    if (options.userVerb == "add") {
      done = users->Add(options.userName, *RoleNamed(options.role), *password);
      told = "Пользователь " + options.userName + " добавлен с ролью " + options.role + ".";
    } else {
      done = users->SetPassword(options.userName, *password);
      told = "Пароль пользователя " + options.userName + " изменён.";
    }
  }
  if (!done) {
    std::cerr << "pelvaron-hub: " << done.problem().Told() << "\n";
    return 1;
  }
  std::cout << told << "\n";
  return 0;
}

}  // namespace pelvaron
