#include "platform/OpenFailure.h"

#include <cerrno>
#include <cstring>

namespace plat {

namespace {

struct TOpenFailureText {
  TOpenFailure Kind;
  const char* Command;  // the command line's reason
  // The window's sentence; null: "The port cannot be opened: <the system's text>."
  const char* WindowRussian;
  const char* WindowEnglish;
};

#ifdef _WIN32
constexpr const char* BusyCommand =
    "the port is in use by another program, or access to it is denied: close that program and "
    "try again";
constexpr const char* MissingCommand =
    "no such port: check the cable and the port name (zv8810-fwu ports lists them)";
constexpr const char* LineSettingsCommand = "the line settings could not be applied to the port";
#else
constexpr const char* BusyCommand =
    "the port is in use by another program: close that program and try again";
constexpr const char* MissingCommand =
    "no such device: check the cable and the port name (zv8810-fwu ports lists them)";
constexpr const char* LineSettingsCommand = "the line settings could not be applied to the device";
#endif

const TOpenFailureText Texts[] = {
    {TOpenFailure::Permission,
     "permission denied: is the user in the dialout group? (sudo usermod -aG dialout $USER, then "
     "log in again)",
     "Нет прав на порт: добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и "
     "войдите в систему заново.",
     "No permission to use the port: add the user to the dialout group (sudo usermod -aG dialout "
     "$USER) and log in again."},
    {TOpenFailure::Busy, BusyCommand, "Порт занят другой программой: закройте ее и повторите.",
     "The port is in use by another program: close that program and try again."},
    {TOpenFailure::Missing, MissingCommand,
     "Порт не найден: проверьте кабель и выберите порт в списке заново.",
     "The port does not exist: check the cable and choose the port from the list again."},
    {TOpenFailure::NotSerial, "the device is not a serial port", nullptr, nullptr},
    {TOpenFailure::LineSettings, LineSettingsCommand, nullptr, nullptr},
};

const TOpenFailureText* TextOf(TOpenFailure kind) {
  for (const TOpenFailureText& text : Texts)
    if (text.Kind == kind) return &text;
  return nullptr;
}

}  // namespace

TOpenFailure OpenFailureKind(int error) {
  switch (error) {
    case 0:
      return TOpenFailure::None;
    case EACCES:
#ifdef _WIN32
    case EPERM:
      return TOpenFailure::Busy;
#else
    case EPERM:
      return TOpenFailure::Permission;
#endif
    case EBUSY:
#if defined(EWOULDBLOCK) && EWOULDBLOCK != EBUSY
    case EWOULDBLOCK:
#endif
      return TOpenFailure::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return TOpenFailure::Missing;
    case ENOTTY:
      return TOpenFailure::NotSerial;
    case EINVAL:
      return TOpenFailure::LineSettings;
    default:
      return TOpenFailure::Other;
  }
}

std::string OpenFailureReason(int error) {
  const TOpenFailure kind = OpenFailureKind(error);
  if (kind == TOpenFailure::None) return "";
  if (const TOpenFailureText* text = TextOf(kind)) return text->Command;
  return std::strerror(error);
}

std::string OpenFailureWindowReason(int error, bool russian) {
  if (error == 0) error = EIO;
  const TOpenFailureText* text = TextOf(OpenFailureKind(error));
  if (text != nullptr && text->WindowEnglish != nullptr)
    return russian ? text->WindowRussian : text->WindowEnglish;
  return std::string(russian ? "Порт не открывается: " : "The port cannot be opened: ") +
         std::strerror(error) + ".";
}

}  // namespace plat
