#include "platform/errortext.h"

#include <cerrno>

namespace platform {

std::string SystemErrorText(int error) {
  switch (error) {
    case EPERM: return "Opération non permise";
    case ENOENT: return "Fichier ou répertoire introuvable";
    case EINTR: return "Appel système interrompu";
    case EIO: return "Erreur d'entrée/sortie";
    case ENXIO: return "Périphérique ou adresse introuvable";
    case EBADF: return "Descripteur de fichier incorrect";
    case EAGAIN: return "Ressource temporairement indisponible";
    case ENOMEM: return "Mémoire insuffisante";
    case EACCES: return "Accès refusé";
    case EBUSY: return "Périphérique ou ressource occupé";
    case EEXIST: return "Le fichier existe déjà";
    case EXDEV: return "Opération impossible entre deux systèmes de fichiers";
    case ENODEV: return "Périphérique introuvable";
    case ENOTDIR: return "N'est pas un répertoire";
    case EISDIR: return "Est un répertoire";
    case EINVAL: return "Argument incorrect";
    case ENFILE: return "Trop de fichiers ouverts dans le système";
    case EMFILE: return "Trop de fichiers ouverts";
    case ETXTBSY: return "Fichier exécutable en cours d'utilisation";
    case EFBIG: return "Fichier trop volumineux";
    case ENOSPC: return "Plus d'espace disponible sur le périphérique";
    case EROFS: return "Système de fichiers en lecture seule";
    case EMLINK: return "Trop de liens";
    case EPIPE: return "Connexion interrompue (tube cassé)";
    case ENAMETOOLONG: return "Nom de fichier trop long";
    case ENOLCK: return "Aucun verrou disponible";
    case ENOSYS: return "Fonction non prise en charge par le système";
    case ENOTEMPTY: return "Répertoire non vide";
    case ELOOP: return "Trop de niveaux de liens symboliques";
    case ENODATA: return "Aucune donnée disponible";
    case EOVERFLOW: return "Valeur trop grande pour le type de données";
    case EOPNOTSUPP: return "Opération non prise en charge";
    case ENETDOWN: return "Le réseau ne fonctionne pas";
    case ENETUNREACH: return "Réseau inaccessible";
    case ENETRESET: return "Connexion réseau réinitialisée";
    case ECONNABORTED: return "Connexion abandonnée";
    case ECONNRESET: return "Connexion réinitialisée par l'ordinateur distant";
    case ENOTCONN: return "Le partage n'est pas connecté";
    case ETIMEDOUT: return "Délai d'attente de la connexion dépassé";
    case ECONNREFUSED: return "Connexion refusée";
    case EHOSTDOWN: return "L'ordinateur distant est hors service";
    case EHOSTUNREACH: return "Aucun chemin vers l'ordinateur distant";
    case ESTALE: return "Référence de fichier périmée sur le partage réseau";
    case EUCLEAN: return "Système de fichiers endommagé";
    case EREMOTEIO: return "Erreur d'entrée/sortie distante";
    case EDQUOT: return "Quota de disque dépassé";
    case ENOMEDIUM: return "Aucun support dans le lecteur";
    case ECANCELED: return "Opération annulée";
    default: return "Erreur système n° " + std::to_string(error);
  }
}

}  // namespace platform
