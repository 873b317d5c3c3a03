#include "store/store_problem.h"

#include <sqlite3.h>

#include <cerrno>

namespace pelvaron {

std::string StoreProblemText(int code, int systemError) {
  switch (code & 0xFF) {
    case SQLITE_FULL:
      return "диск заполнен";
    case SQLITE_CANTOPEN:
      if (systemError == ENOENT) return "нет такого файла или папки";
      if (systemError == EACCES || systemError == EPERM) return "нет доступа к файлу или папке";
      if (systemError == EROFS) return "диск только для чтения";
      return "файл не открывается";
    case SQLITE_READONLY:
      return "запись запрещена (файл, папка или диск только для чтения)";
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "нет доступа";
    case SQLITE_NOTADB:
      return "файл не является базой данных";
    case SQLITE_CORRUPT:
      return "файл повреждён";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "хранилище занято другой программой";
    case SQLITE_IOERR:
      if (systemError == ENOSPC) return "диск заполнен";
      return "ошибка чтения или записи диска";
    case SQLITE_NOMEM:
      return "не хватает памяти";
    default:
      return "ошибка базы данных";
  }
}

}  // namespace pelvaron
