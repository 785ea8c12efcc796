#include "scheduler/core/saferemoval.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeRemovalTexts, BlockObjectPaths) {
  const struct {
    const char* device;
    const char* path;
  } cases[] = {
      {"sdb1", "/org/freedesktop/UDisks2/block_devices/sdb1"},
      {"mmcblk0p1", "/org/freedesktop/UDisks2/block_devices/mmcblk0p1"},
      {"dm-0", "/org/freedesktop/UDisks2/block_devices/dm_2d0"},
      {"a.b", "/org/freedesktop/UDisks2/block_devices/a_2eb"},
  };
  for (const auto& c : cases) EXPECT_EQ(core::UDisksBlockPath(c.device), c.path);
}

TEST(SafeRemovalTexts, ErrorsInFrench) {
  const struct {
    const char* name;
    const char* message;
    const char* text;
  } cases[] = {
      {"org.freedesktop.UDisks2.Error.DeviceBusy", "target is busy",
       "Le périphérique « SAVE » est en cours d'utilisation : fermez les fichiers et les fenêtres ouverts dessus, "
       "puis réessayez."},
      {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain", "",
       "Éjection refusée : vous n'avez pas l'autorisation d'éjecter le périphérique « SAVE »."},
      {"org.freedesktop.DBus.Error.ServiceUnknown", "The name is not activatable",
       "Le service UDisks2 est absent : le périphérique « SAVE » ne peut pas être éjecté d'ici. Démontez-le avant "
       "de le retirer."},
      {"org.freedesktop.DBus.Error.Spawn.ChildExited", "", nullptr},
      {"org.freedesktop.UDisks2.Error.Failed", "Error powering off: no such device",
       "Éjection refusée pour le périphérique « SAVE » : Error powering off: no such device."},
      {"org.freedesktop.UDisks2.Error.Cancelled", "", "Éjection annulée."},
  };
  const std::string missing = core::EjectErrorText("org.freedesktop.DBus.Error.ServiceUnknown", "", "SAVE");
  for (const auto& c : cases)
    EXPECT_EQ(core::EjectErrorText(c.name, c.message, "SAVE"), c.text ? c.text : missing) << c.name;
  EXPECT_TRUE(core::UDisksMissing("org.freedesktop.DBus.Error.NameHasNoOwner"));
  EXPECT_FALSE(core::UDisksMissing("org.freedesktop.UDisks2.Error.DeviceBusy"));
  EXPECT_EQ(core::VolumeDisplayName("", "/media/u/KEY"), "/media/u/KEY");
  EXPECT_EQ(core::VolumeDisplayName("SAVE", "/media/u/KEY"), "SAVE");
}

}  // namespace
