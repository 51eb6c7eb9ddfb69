#include "appdata/DMU.h"

std::string TDM::ResultText(std::int32_t code) const {
  switch (static_cast<std::uint32_t>(code)) {
    case 0:
      return Tr("Ошибка", "Error");
    case 1:
      return Tr("Выполнение успешно завершено", "Execution is successfully completed");
    case 2:
      return Tr("Ошибка: Нет ответа загрузчика", "Error at connecting");
    case 3:
      return Tr("Ошибка: Ошибка при загрузке резидента", "Error at inicialization");
    case 4:
      return Tr("Ошибка: Ошибка стирания flash памяти", "Error at flash erasing");
    case 5:
      return Tr("Ошибка: Ошибка записи системы", "Error at programming");
    default:
      return Tr("Ошибка: Нет значения", "Unknown error");
  }
}
