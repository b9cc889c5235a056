#pragma once

// What the operator reads: every caption, message and log line of the device commands.
namespace quorvex::text {

inline constexpr const char* kReceiveFailure =
    "Ошибка приема сообщения\nВозможные причины:\n-неправильно выбран COM-порт\n"
    "-неисправна линии связи\n-прибор не в режиме связи с компьютером\n"
    "Нажмите клавишу 'Reset' на клавиатуре прибора";
inline constexpr const char* kWrongReply =
    "Нет связи со сканером\nВозможные причины:\n-неправильно выбран COM-порт\n"
    "-неисправна линии связи\n-прибор не в режиме связи с компьютером\n"
    "Нажмите клавишу 'Reset' на клавиатуре прибора";
inline constexpr const char* kSectorInfoFailure =
    "Ошибка получения информации о секторе\nВозможные причины:\n-неправильно выбран COM-порт\n"
    "-неисправна линии связи\n-прибор не в режиме связи с компьютером\n"
    "Нажмите клавишу 'Reset' на клавиатуре прибора";
inline constexpr const char* kWrongVersion = "Версия загрузчика не соответствует версии прибора";
inline constexpr const char* kChecksumFailure =
    "Сбой программирования\nК.С. микропрограммы не сошлась\nПовторите программирование";

inline constexpr const char* kCaptionError = "Ошибка";
inline constexpr const char* kCaptionErase = "Стирание";
inline constexpr const char* kCaptionInit = "Инициализация";
inline constexpr const char* kCaptionRead = "Чтение кадра";
inline constexpr const char* kCaptionWrite = "Запись кадра";
inline constexpr const char* kCaptionFinish = "Завершение программирования";
inline constexpr const char* kCaptionProgramSector = "Программирование сектора";

inline constexpr const char* kOpenFile = "Откройте файл";
inline constexpr const char* kCannotOpenFile = "Не могу открыть файл";
inline constexpr const char* kWrongFileLength = "Неправильная длина файла";
inline constexpr const char* kEnterSector = "Введите номер сектора";
inline constexpr const char* kWrongSector = "Введен неправильный номер сектора";
inline constexpr const char* kOverwrite = "Сектор записан, переписать?";

inline constexpr const char* kLogOk = "ОК";
inline constexpr const char* kLogReadingFile = "Чтение файла...";
inline constexpr const char* kLogReadingSector = "Чтение информации о секторе...";
inline constexpr const char* kLogErasing = "Стирание...";
inline constexpr const char* kLogProgramming = "Программирование...";
inline constexpr const char* kLogClearing = "Стирание сектора...";
inline constexpr const char* kLogStop = "Стоп";
inline constexpr const char* kLogFileOpened = "Открыт файл: ";
inline constexpr const char* kLogEraseFailed = "Ошибка стирания";
inline constexpr const char* kLogInitFailed = "Ошибка инициализации";
inline constexpr const char* kLogNoConnection = "Нет связи со сканером";
inline constexpr const char* kLogReceiveFailed = "Ошибка приема сообщения";
inline constexpr const char* kLogBlockReadFailed = "Ошибка чтения кадра";
inline constexpr const char* kLogFinishFailed = "Ошибка завершения программирования";
inline constexpr const char* kLogChecksumFailed = "Ошибка контрольной суммы микропрограммы";
inline constexpr const char* kSectorLinePrefix = "Cектор ";  // a Latin capital C
inline constexpr const char* kNotLoaded = " - не загружен";

}  // namespace quorvex::text
