#include "platform/errortext.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

TEST(SystemErrorText, FrenchForTheErrorsOfCopiesAndShares) {
  EXPECT_EQ(platform::SystemErrorText(EROFS), "Système de fichiers en lecture seule");
  EXPECT_EQ(platform::SystemErrorText(ENOENT), "Fichier ou répertoire introuvable");
  EXPECT_EQ(platform::SystemErrorText(ENOSPC), "Plus d'espace disponible sur le périphérique");
  for (int e : {EROFS, ENOENT, EACCES, EPERM, ENOSPC, EDQUOT, EIO, ENAMETOOLONG, ENOTDIR, EISDIR, EEXIST, ELOOP,
                EMFILE, ENFILE, ENOMEM, ETXTBSY, EBUSY, EXDEV, EINVAL, EFBIG, ESTALE, EHOSTDOWN, ETIMEDOUT,
                ECONNRESET, ECONNREFUSED, EHOSTUNREACH, ENOTCONN, ENODEV, ENXIO, ECANCELED, EAGAIN, EOPNOTSUPP}) {
    SCOPED_TRACE(e);
    const std::string text = platform::SystemErrorText(e);
    EXPECT_NE(text, std::strerror(e));  // not the system's English text
    EXPECT_EQ(text.find("Erreur système n°"), std::string::npos);
  }
  // One the table lacks keeps its number.
  EXPECT_EQ(platform::SystemErrorText(EDOM), "Erreur système n° " + std::to_string(EDOM));
  EXPECT_EQ(platform::SystemErrorText(9999), "Erreur système n° 9999");
}
