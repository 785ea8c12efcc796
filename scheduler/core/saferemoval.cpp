#include "scheduler/core/saferemoval.h"

#include <cstdio>

namespace core {

std::string UDisksBlockPath(std::string_view device) {
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (unsigned char c : device) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      path += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", c);
      path += hex;
    }
  }
  return path;
}

std::string VolumeDisplayName(std::string_view label, std::string_view mountPoint) {
  return std::string(label.empty() ? mountPoint : label);
}

bool UDisksMissing(std::string_view errorName) {
  return errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
         errorName == "org.freedesktop.DBus.Error.NoServer" ||
         errorName == "org.freedesktop.DBus.Error.Disconnected" ||
         errorName.substr(0, 33) == "org.freedesktop.DBus.Error.Spawn.";
}

std::string EjectErrorText(std::string_view errorName, std::string_view message, std::string_view name) {
  const std::string volume = "« " + std::string(name) + " »";
  if (UDisksMissing(errorName))
    return "Le service UDisks2 est absent : le périphérique " + volume +
           " ne peut pas être éjecté d'ici. Démontez-le avant de le retirer.";
  if (errorName == "org.freedesktop.UDisks2.Error.DeviceBusy")
    return "Le périphérique " + volume +
           " est en cours d'utilisation : fermez les fichiers et les fenêtres ouverts dessus, puis réessayez.";
  if (errorName.substr(0, 43) == "org.freedesktop.UDisks2.Error.NotAuthorized")
    return "Éjection refusée : vous n'avez pas l'autorisation d'éjecter le périphérique " + volume + ".";
  if (errorName == "org.freedesktop.UDisks2.Error.Cancelled") return "Éjection annulée.";
  if (errorName == "org.freedesktop.DBus.Error.NoReply" || errorName == "org.freedesktop.DBus.Error.Timeout")
    return "Le périphérique " + volume + " ne répond pas : l'éjection n'a pas pu se faire.";
  std::string text = "Éjection refusée pour le périphérique " + volume;
  if (!message.empty()) text += " : " + std::string(message);
  return text + ".";
}

}  // namespace core
