#include "launcher/Messages.h"

#include <windows.h>

namespace {

const char kUnknownMessage[] = "unknown msg text";

// Primary language numbers with a column of their own.
const int kLangGerman = 7;
const int kLangFrench = 12;
const int kLangItalian = 16;
const int kPrimaryLanguageMask = 0x3FF;

const char* InUserLanguage(const char* english, const char* italian, const char* french,
                           const char* german)
{
    // Read afresh every time: a change of the user's setting applies to the next text.
    const LANGID language = TextLanguage(GetUserDefaultLangID, GetSystemDefaultLangID);
    switch (language & kPrimaryLanguageMask) {
    case kLangGerman:
        return german;
    case kLangFrench:
        return french;
    case kLangItalian:
        return italian;
    default:
        return english;
    }
}

struct FailureEntry {
    FailureText which;
    const char* english;
    const char* italian;
    const char* french;
    const char* german;
};

const FailureEntry kFailureTable[] = {
    { FailureText::UnpackFailed,
      "Setup could not unpack %s.\nThe setup file may be damaged. Please obtain it again and restart setup.",
      "Il programma d'installazione non ha potuto estrarre %s.\nIl file d'installazione potrebbe essere danneggiato. Lo scarichi di nuovo e riavvii l'installazione.",
      "Le setup n'a pas pu extraire %s.\nLe fichier d'installation est peut-\xeatre endommag\xe9. T\xe9l\xe9" "chargez-le de nouveau et relancez le setup.",
      "Setup konnte %s nicht entpacken.\nDie Setup-Datei ist m\xf6glicherweise besch\xe4" "digt. Bitte laden Sie sie erneut herunter und starten Sie Setup noch einmal.",
    },
    { FailureText::WriteFailed,
      "Setup could not write %s.\nThe setup file may be damaged, or the temporary folder may be full or write-protected.",
      "Il programma d'installazione non ha potuto scrivere %s.\nIl file d'installazione potrebbe essere danneggiato, oppure la cartella temporanea \xe8 piena o protetta da scrittura.",
      "Le setup n'a pas pu \xe9" "crire %s.\nLe fichier d'installation est peut-\xeatre endommag\xe9, ou le dossier temporaire est plein ou prot\xe9g\xe9 en \xe9" "criture.",
      "Setup konnte %s nicht schreiben.\nDie Setup-Datei ist m\xf6glicherweise besch\xe4" "digt, oder der tempor\xe4re Ordner ist voll oder schreibgesch\xfctzt.",
    },
    { FailureText::NoFreeName,
      "Setup found no free name for its files in %s.\nThe setup file may be damaged, or the temporary folder may be full.",
      "Il programma d'installazione non ha trovato un nome libero per i suoi file in %s.\nIl file d'installazione potrebbe essere danneggiato, oppure la cartella temporanea \xe8 piena.",
      "Le setup n'a pas trouv\xe9 de nom libre pour ses fichiers dans %s.\nLe fichier d'installation est peut-\xeatre endommag\xe9, ou le dossier temporaire est plein.",
      "Setup fand in %s keinen freien Namen f\xfcr seine Dateien.\nDie Setup-Datei ist m\xf6glicherweise besch\xe4" "digt, oder der tempor\xe4re Ordner ist voll.",
    },
};

} // namespace

const MessageEntry kMessageTable[kMessageTableEnd + 1] = {
    { 0,
      "Kalmora Setup",
      "Installazione Kalmora",
      "Installation de Kalmora",
      "Kalmora Setup",
    },
    { 1,
      "You are about to interrupt the Kalmora download.\nTo continue downloading, you just need to restart the setup program.\nFiles already downloaded won't be downloaded again.\nDo you really want to interrupt the download?",
      "Sta per interrompere il download di Kalmora.\nPer continuare il download, basta rilanciare il programma d'installazione.\nI file gi\xe0 scaricati non verranno scaricati nuovamente.\nDesidera veramente interrompere il download?",
      "Vous allez interrompre le t\xe9l\xe9" "chargement de Kalmora.\nPour continuer le t\xe9l\xe9" "chargement, vous devez juste relancer le setup.\nLes fichiers d\xe9j\xe1 t\xe9l\xe9" "charg\xe9s n'auront pas besoin de l'\xeatre \xe0 nouveau.\nVoulez-vous r\xe9" "ellement interrompre le t\xe9l\xe9" "chargement ?",
      "Sie sind dabei, den Kalmora-Download zu unterbrechen.\nUm den Download fortzusetzen, m\xfcssen Sie nur das Setup-Program erneut starten.\nDie bereits herunter geladenen Datein werden nicht erneut heruntergeladen.\nWollen Sie den Download wirklich unterbrechen?",
    },
    { 2,
      "Download %d%% done (%d/%d KB)",
      "Download %d%% eseguito (%d/%d KB)",
      "%d%% t\xe9l\xe9" "charg\xe9s (%d/%d Ko)",
      "Download %d%% fertig (%d/%d KB)",
    },
    { 3,
      " %d KB/s, %d min remaining",
      " %d KB/s, %d min rimanenti",
      " %d Ko/s, %d min restantes",
      " %d KB/s, noch %d min",
    },
    { 4,
      " %d KB/s, %d s remaining",
      " %d KB/s, %d s rimanenti",
      " %d Ko/s, %d s restantes",
      " %d KB/s, noch %d s",
    },
    { 5,
      "Insufficient space on drive %s to run setup!\n(%.1f MB required, only %.1f MB available)",
      "Spazio insufficiente sul disco %s per lanciare l'installazione!\n(richiesti %.1f MB, disponibili solo %.1f MB)",
      "Espace insuffisant pour lancer l'installation sur le disque %s !\n(%.1f Mo n\xe9" "cessaires, seulement %.1f Mo de disponible)",
      "Nicht gen\xfcgend freier Platz auf Laufwerk %s, um Setup laufen zu lassen!\n(%.1f MB ben\xf6tigt, nur %.1f MB vorhanden)",
    },
    { 6,
      "All necessary installation files are available. \nWould you like to check for more recent ones?",
      "Tutti i file necessari per l'installazione sono disponibili. \nDesidera verificare se ne esistono di pi\xf9 recenti?",
      "Tous les fichiers n\xe9" "cessaires \xe0 l'installation sont disponibles. \nVoulez-vous v\xe9rifier s'il en existe de plus r\xe9" "cents ?",
      "Alle notwendigen Installations-Dateien sind vorhanden. \nM\xf6" "chten Sie auf der Kalmora Website nach neueren Dateien suchen?",
    },
    { 7,
      "Internet Explorer (version 4.0 or higher) is required but not installed.\nThe Kalmora website features links to download the current Internet Explorer version. Do you want to visit the Kalmora Website?",
      "Internet Explorer (versione 4.0 o superiore) necessario ma non installato.\nSul sito web di Kalmora trova il link per scaricare la versione corrente di Internet Explorer. Desidera visitare il Sito web di Kalmora?",
      "Internet Explorer (version 4.0 ou sup\xe9rieure) est n\xe9" "cessaire mais pas install\xe9" "e.\nLe site Web de Kalmora \xe9tablit un lien pour t\xe9l\xe9" "charger la version actuelle d'Internet Explorer. Voulez-vous visiter le site Web de Kalmora ?",
      "Internet Explorer (Version 4.0 oder h\xf6her) wird ben\xf6tigt, ist aber nicht installiert.\nDie Kalmora-Webseite enth\xe4lt Links, um die aktuelle Version des Internet Explorers herunterzuladen.Wollen Sie auf die Kalmora-Webseite gehen?",
    },
    { 8,
      "Kalmora Setup requires an active Internet connection to access the download site.\nPlease check your Internet connection, firewall and proxy settings. \n",
      "Il programma d'installazione di Kalmora non pu\xf2 accedere al sito per il download. \nControlli connessione Internet, firewall, ed impostazioni proxy. \n",
      "Le Setup de Kalmora n\xe9" "cessite une connexion Internet active pour acc\xe9" "der au site de t\xe9l\xe9" "chargement.\nContr\xf4lez les param\xe8tres de votre connexion Internet, pare-feu ou proxy.\n",
      "Kalmora Setup ben\xf6tigt eine Internetverbindung, um auf die Download-Site zuzugreifen.\nBitte \xfc" "berpr\xfc" "fen Sie auch die Internet-, Firewall- und Proxy-Konfiguration. \n",
    },
    { 9,
      "Kalmora received an error message while trying to access the download site. \nDo you want to see this message?",
      " Kalmora ha ricevuto un messaggio d'errore mentre tentava di accedere al sito per il download. \nDesidera vedere questo messaggio?",
      "Kalmora a re\xe7u un message d'erreur en essayant d'acc\xe9" "der au site de t\xe9l\xe9" "chargement. \nVoulez-vous voir ce message ?",
      "Kalmora erhielt beim Versuch, auf die Download-Site zuzugreifen, eine Fehlermeldung. \nWollen Sie diese Meldung sehen?",
    },
    { 10,
      "It is possible to download Kalmora as a single file from our website. \nDo you want to visit the Kalmora website?",
      "Pu\xf2 scaricare il file singolo di Kalmora dal nostro sito Internet. \nDesidera visitare il sito web di Kalmora?",
      "Il est possible de t\xe9l\xe9" "charger Kalmora en un seul fichier \xe0 partir de notre site Web. \nVoulez-vous visiter le site Web de Kalmora ?",
      "Kalmora kann in einem St\xfc" "ck heruntergeladen werden. \nM\xf6" "chten Sie Kalmora Website besuchen?",
    },
    { 11,
      "MAPI error\nOne or more unspecified errors occurred. No message was sent.",
      "Errore MAPI\nUno o pi\xf9 errori non specificati. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nUne ou plusieurs erreurs non sp\xe9" "cifi\xe9" "es sont survenues. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEin oder mehrere nicht spezifizierte Fehler sind aufgetreten. Es wurde keine Nachricht gesendet.",
    },
    { 12,
      "MAPI error\nThere was no default logon and the user failed to log on successfully when the logon dialog box was displayed. No message was sent.",
      "Errore MAPI\nNon c'\xe9 stata alcuna identificazione di default, e l'utente non \xe8 riuscito a fare il logon quando la finestra di dialogo era attiva. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nAucune identification par d\xe9" "faut, et l'identification de l'utilisateur a \xe9" "chou\xe9 quand la bo\xeete de dialogue d'identification a \xe9t\xe9 affich\xe9" "e. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEs gab keinen standard-Logon, und der Anwender konnte sich nicht erfolgreich anmelden, als die Anmelde-Dialogbox angezeigt wurde. Es wurde keine Nachricht gesendet.",
    },
    { 13,
      "MAPI error\nYour disk is full. No message was sent.",
      "Errore MAPI\nIl suo disco \xe8 pieno. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nVotre disque est plein. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nIhre Festplatte ist voll. Es wurde keine Nachricht gesendet.",
    },
    { 14,
      "MAPI error\nOut of memory. No message was sent.",
      "MAPI error\nmemoria insufficiente. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nM\xe9moire insuffisante. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nNicht gen\xfcgend Arbeitsspeicher. Es wurde keine Nachricht gesendet.",
    },
    { 15,
      "MAPI error\nAccess denied. No message was sent.",
      "Errore MAPI\nAccesso negato. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nAcc\xe8s refus\xe9. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nZugriff verweigert. Es wurde keine Nachricht gesendet.",
    },
    { 16,
      "MAPI error\nToo many sessions. No message was sent.",
      "Errore MAPI\nTroppe sessioni. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nTrop de sessions. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nZu viele Anmeldungen. Es wurde keine Nachricht gesendet.",
    },
    { 17,
      "MAPI error\nThere were too many images. Try to split up the images into several emails. No message was sent.",
      "Errore MAPI\nTroppe immagini. Provi a suddividerle in pi\xfa e-mail. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nTrop d'images. Essayez de r\xe9partir les images dans plusieurs e-mails. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEs waren zu viele Bilder. Versuchen Sie, die Bilder in mehrere E-Mails aufzuteilen. Es wurde keine Nachricht gesendet.",
    },
    { 18,
      "MAPI error\nThere were too many recipients. No message was sent.",
      "Errore MAPI\nTroppi destinatari. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nTrop de destinataires. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEs wurden zu viele Empf\xe4nger angegeben. Es wurde keine Nachricht gesendet.",
    },
    { 19,
      "MAPI error\nAttachment not found. No message was sent.",
      "Errori MAPI\nAllegato non trovato. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nPi\xe8" "ce jointe non trouv\xe9" "e. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nAnhang nicht gefunden. Es wurde keine Nachricht gesendet.",
    },
    { 20,
      "MAPI error\nThe specified attachment could not be opened. No message was sent.",
      "Errore MAPI\nL'allegato specificato non pu\xf2 essere aperto. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nLa pi\xe8" "ce jointe indiqu\xe9" "e ne peut pas \xeatre ouverte. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nDer Anhang konnte nicht ge\xf6" "ffnet werden. Es wurde keine Nachricht gesendet.",
    },
    { 21,
      "MAPI error\nThe specified attachment could not be written to. No message was sent.",
      "Errore MAPI error\nL'allegato specificato non pu\xf2 essere scritto. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nLa pi\xe8" "ce jointe indiqu\xe9" "e ne peut pas \xeatre transmise. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nDer Dateianhang konnte nicht geschrieben werden. Es wurde keine Nachricht gesendet.",
    },
    { 22,
      "MAPI error\nA recipient did not appear in the address list. No message was sent.",
      "Errore MAPI\nUn destinatario non appare nella lista dei indirizzi. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nUn destinataire n'appara\xeet pas dans la liste d'adresse. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEin Empf\xe4nger erschien nicht in der Adressliste. Es wurde keine Nachricht gesendet.",
    },
    { 23,
      "MAPI error\nThe type of a recipient was not To:, Cc:, or Bcc:. No message was sent.",
      "Errore MAPI\nIl tipo di destinatario non \xe9 A:, Cc:, o Bcc:. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nLe type de destinataire n'est pas A :, Cc : ou Cci :. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nDer Typ eines Empf\xe4ngers war weder To: noch Cc: noch Bcc:. Es wurde keine Nachricht gesendet.",
    },
    { 24,
      "MAPI error\nNo messages. No message was sent.",
      "Errore MAPI\nNessun messaggio. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nPas de message. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nKeine Nachrichten. Es wurde keine Nachricht gesendet.",
    },
    { 25,
      "MAPI error\nInvalid message. No message was sent.",
      "Errore MAPI\nMessaggio non valido. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nMessage invalide. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nUng\xfcltige Nachricht. Es wurde keine Nachricht gesendet.",
    },
    { 26,
      "MAPI error\nThe text in the message was too large. No message was sent.",
      "Errore MAPI\nTesto del messaggio troppo grande. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nLe texte du message \xe9tait trop grand. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nDer Text in der Nachricht war zu gro\xdf. Es wurde keine Nachricht gesendet.",
    },
    { 27,
      "MAPI error\nInvalid session. No message was sent.",
      "Errore MAPI\nSessione non valida. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nSession invalide. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nUng\xfcltige Anmeldung. Es wurde keine Nachricht gesendet.",
    },
    { 28,
      "MAPI error\nType not supported. No message was sent.",
      "Errore MAPI\nTipo non supportato. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nType non support\xe9. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nTyp nicht unterst\xfctzt. Es wurde keine Nachricht gesendet.",
    },
    { 29,
      "MAPI error\nA recipient matched more than one of the recipient descriptor structures and no dialog was to be displayed. No message was sent.",
      "Errore MAPI\nUn destinatario corrisponde a pi\xfa indirizzi e nessuna finestra di dialogo \xe8 stata attivata. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nUn destinataire correspondait \xe0 plus d'une des structures de description de destinataire et aucun dialogue n'a \xe9t\xe9 affich\xe9. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nEin Empf\xe4nger passte auf mehr als eine Empf\xe4ngerstruktur und kein Dialog sollte angezeigt werden. Es wurde keine Nachricht gesendet.",
    },
    { 30,
      "MAPI error\nMessage in use. No message was sent.",
      "Errore MAPI\nMessaggio in uso. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nMessage en cours d'utilisation. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nNachricht in Benutzung. Es wurde keine Nachricht gesendet.",
    },
    { 31,
      "MAPI error\nNetwork failure. No message was sent.",
      "Errore MAPI\nFallimento rete. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nErreur r\xe9seau. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nNetzwerkfehler. Es wurde keine Nachricht gesendet.",
    },
    { 32,
      "MAPI error\nInvalid edit fields. No message was sent.",
      "Errore MAPI\nCampi editabili non validi. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nChamps d'\xe9" "dition invalides. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nUng\xfcltige Eingabefelder. Es wurde keine Nachricht gesendet.",
    },
    { 33,
      "MAPI error\nOne or more recipients were invalid or did not resolve to any address.",
      "Errore MAPI error\nUno o pi\xfa destinatari non validi o indirizzi non validi.",
      "MAPI erreur\nUn ou plusieurs destinataires \xe9taient invalides ou aucune adresse n'a \xe9t\xe9 r\xe9solue.",
      "MAPI Fehler\nEin oder mehrere Empf\xe4nger waren ung\xfcltig oder lie\xdf" "en sich nicht auf eine Adresse aufl\xf6sen.",
    },
    { 34,
      "MAPI error\nNot supported. No message was sent.",
      "Errore MAPI\nNon supportato. Nessun messaggio \xe8 stato spedito.",
      "MAPI erreur\nNon support\xe9. Aucun message n'a \xe9t\xe9 envoy\xe9.",
      "MAPI Fehler\nNicht unterst\xfctzt. Es wurde keine Nachricht gesendet.",
    },
    { 35,
      "MAPI Error:%x\n%s",
      "Errore MAPI:%x\n%s",
      "Erreur MAPI :%x\n%s",
      "MAPI-Fehler:%x\n%s",
    },
    { 36,
      "Kalmora could not generate an email because MAPI is not configured or installed on your system.\nPlease send us the file %s by other means.",
      "Kalmora non \xe8 riuscito a generare una e-mail perch\xe9 MAPI non \xe8 stato configurato o installato sul suo sistema.\nLa pregiamo di spedirci il file %s in modo diverso.",
      "Kalmora n'a pu g\xe9n\xe9rer un e-mail parce que MAPI n'est pas configur\xe9 ou install\xe9 sur votre syst\xe8me.\nEnvoyez-nous le fichier %s par d'autres moyens SVP.",
      "Kalmora konnte keine E-Mail erstellen, weil MAPI auf Ihrem System nicht eingerichtet ist.\nBitte senden Sie uns die Datei %s \xfc" "ber andere Wege.",
    },
    { kMessageTableEnd, "", "", "", "" },
};

LANGID TextLanguage(LanguageQuery user, LanguageQuery system)
{
    const LANGID language = user();
    return language != 0 ? language : system();
}

const char* GetMessageText(int id)
{
    for (const MessageEntry* row = kMessageTable;; ++row) {
        if (row->id == kMessageTableEnd)
            return kUnknownMessage;
        if (row->id == id)
            return InUserLanguage(row->english, row->italian, row->french, row->german);
    }
}

const char* GetFailureText(FailureText which)
{
    for (const FailureEntry& row : kFailureTable) {
        if (row.which == which)
            return InUserLanguage(row.english, row.italian, row.french, row.german);
    }
    return kUnknownMessage;
}
