#include "core/text/LanguageTexts.h"

#include "core/ProgramVersion.h"

namespace quindel {

void loadLanguageTexts(LanguageTexts& t, uint8_t languageIndex) {
    if (languageIndex == kItalian) {
        t.startCaption = "Start";
        t.stopCaption = "Stop";
        t.assignKeysCaption = "Assegna tasti";
        t.midiConfigCaption = "Configura MIDI";
        t.descriptionLabel = "Descrizione";
        t.sequenceLabel = "Sequenza";
        t.flagImageFile = "uk2.jpg";
        t.selectDeviceMessage = "Selezionare una periferica MIDI d'ingresso";
        t.noDeviceMessage = "Nessuna periferica MIDI rilevata!";
        t.selectDeviceLabel = "Selezionare la periferica MIDI di ingresso";
        t.okCaption = "Ok";
        t.cancelCaption = "Annulla";
        t.confirmCaption = "Conferma";
        t.repeatCaption = "Ripeti";
        t.keyboardKeyTitle = "Tasto tastiera";
        t.midiCommandTitle = "Comando MIDI";
        t.assignActionsTitle = "Assegna azioni";
        t.actionsLabel = "Azioni";
        t.newCaption = "Nuovo";
        t.assignNewKeyCaption = "Assegna nuovo tasto";
        t.deleteCaption = "Elimina";
        t.upCaption = "Su";
        t.downCaption = "Giù";
        t.nextCaption = "Avanti";
        t.previousCaption = "Indietro";
        t.configurationNamePrompt = "Inserire il nome della configurazione";
        t.configurationExistsMessage = "Il nome della configurazione esiste già";
        t.actionDescriptionPrompt = "Descrizione dell'azione";
        t.clickPointMessage =
            "Muovi il mouse sul punto da cliccare e premi il tasto sinistro per confermare";
        t.aboutText = std::string("Quindel ") + kProgramVersion +
                      " Beta\r"
                      "Comandi MIDI e tasti che diventano clic, per chi suona dal vivo.";
        t.homePageCaption = "Pagina informativa";
        t.homePageUrl = "help/about-it.html";
        t.helpOnlineCaption = "Manuale d'uso";
        t.helpPageUrl = "help/manual-it.html";
        t.invalidNameMessage = "Il nome contiene caratteri non ammessi";
        t.saveFailedMessage = "Impossibile salvare la configurazione";
        t.tooManyActionsMessage = "Una configurazione può contenere al massimo 100 azioni";
        t.noTriggerName = "nessuno";
        t.keyboardEntryCaption = "Tastiera PC";
        t.keyCaptureInstruction = "Premere il tasto che farà scattare l'azione";
        t.midiCaptureInstruction = "Suonare la nota o muovere il controllo MIDI";
        t.noInputChosenMessage = "Scegliere la periferica MIDI o la tastiera PC con il pulsante "
                                 "\"Configura MIDI\".";
        t.pageNotOpenedMessage = "Impossibile aprire la pagina. Si trova nel file:";
        t.aboutTitle = "Informazioni su Quindel";
        t.deviceMissingCaption = "MIDI assente";
        t.editActionTitle = "Modifica azione";
        t.editDescriptionLabel = "Descrizione";
        t.editTriggerLabel = "Comando";
        t.editPointLabel = "Punto da cliccare";
        t.captureAgainCaption = "Cattura di nuovo";
        t.saveChangesQuestion = "La configurazione è stata modificata. Salvare le modifiche?";
        t.userFilesCaption = "Impostazioni e configurazioni in:";
        t.noClickMessage =
            "Questo desktop non offre a Quindel alcun modo di cliccare, perciò Quindel resta "
            "fermo. Su KDE Plasma, KWin lascia cliccare solo i programmi la cui voce (file "
            ".desktop) è elencata nel menu delle applicazioni di Plasma con la riga "
            "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: il pacchetto installa la sua; "
            "per una cartella del programma propria copiare il suo quindel.desktop in "
            "~/.local/share/applications. Quindel avviato da un terminale dice che cosa manca.";
        t.keysNotWatchedMessage =
            "Su questo desktop Quindel non può osservare i tasti del PC: assegna i tasti a "
            "\"quindel --trigger CODICE\" nelle scorciatoie del desktop (vedi il manuale), "
            "oppure scegli un ingresso MIDI.";
        t.clickFailedMessage = "Clic non riuscito: il desktop non lo accetta";
        t.keysTakenMessage = "Tasti di altre scorciatoie: ";
        t.xwaylandMessage =
            "Quindel è partito come programma X11 (XWayland) su un desktop Wayland: i suoi clic "
            "arriverebbero solo ai programmi X11, perciò Quindel resta fermo. Installa il "
            "pacchetto qt6-wayland e togli QT_QPA_PLATFORM=xcb dall'ambiente, poi riavvia "
            "Quindel.";
        t.noPointCaptureMessage = "Su questo desktop Quindel non può prendere il punto del clic.";
    } else if (languageIndex == kEnglish) {
        t.startCaption = "Start";
        t.stopCaption = "Stop";
        t.assignKeysCaption = "Assign keys";
        t.midiConfigCaption = "MIDI Config";
        t.descriptionLabel = "Action";
        t.sequenceLabel = "Sequence";
        t.flagImageFile = "italia2.jpg";
        t.selectDeviceMessage = "Please select a MIDI input device";
        t.noDeviceMessage = "No MIDI device detected!";
        t.selectDeviceLabel = "Select the MIDI input device";
        t.okCaption = "Ok";
        t.cancelCaption = "Cancel";
        t.confirmCaption = "Confirm";
        t.repeatCaption = "Repeat";
        t.keyboardKeyTitle = "Keyboard key";
        t.midiCommandTitle = "MIDI command";
        t.assignActionsTitle = "Assign actions";
        t.actionsLabel = "Actions";
        t.newCaption = "New";
        t.assignNewKeyCaption = "Assign new key";
        t.deleteCaption = "Delete";
        t.upCaption = "Up";
        t.downCaption = "Down";
        t.nextCaption = "Next";
        t.previousCaption = "Previous";
        t.configurationNamePrompt = "Insert configuration's name";
        t.configurationExistsMessage = "A configuration with this name already exists!";
        t.actionDescriptionPrompt = "Action's description";
        t.clickPointMessage = "Move mouse and select the point to click with the left button";
        t.aboutText = std::string("Quindel ") + kProgramVersion +
                      " Beta\r"
                      "MIDI commands and keys turned into clicks, for performers on stage.";
        t.homePageCaption = "About page";
        t.homePageUrl = "help/about-en.html";
        t.helpOnlineCaption = "User manual";
        t.helpPageUrl = "help/manual-en.html";
        t.invalidNameMessage = "The name contains characters that are not allowed";
        t.saveFailedMessage = "The configuration could not be saved";
        t.tooManyActionsMessage = "A configuration can hold at most 100 actions";
        t.noTriggerName = "none";
        t.keyboardEntryCaption = "PC keyboard";
        t.keyCaptureInstruction = "Press the key that is to trigger the action";
        t.midiCaptureInstruction = "Play the note or move the MIDI control";
        t.noInputChosenMessage =
            "Choose the MIDI device or the PC keyboard with the \"MIDI Config\" button.";
        t.pageNotOpenedMessage = "The page could not be opened. It is the file:";
        t.aboutTitle = "About Quindel";
        t.deviceMissingCaption = "Device missing";
        t.editActionTitle = "Edit action";
        t.editDescriptionLabel = "Description";
        t.editTriggerLabel = "Trigger";
        t.editPointLabel = "Point to click";
        t.captureAgainCaption = "Capture again";
        t.saveChangesQuestion = "The configuration has been changed. Save the changes?";
        t.userFilesCaption = "Settings and configurations in:";
        t.noClickMessage =
            "This desktop offers Quindel no way to click, so Quindel stays stopped. On KDE "
            "Plasma, KWin lets only programs click whose desktop entry the Plasma applications "
            "menu lists with the line X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input: the "
            "package installs Quindel's; for a program folder of your own, copy its "
            "quindel.desktop to ~/.local/share/applications. Quindel started from a terminal "
            "says what is missing.";
        t.keysNotWatchedMessage =
            "Quindel cannot watch the PC keys on this desktop: bind your keys to "
            "\"quindel --trigger CODE\" in the desktop's shortcuts (see the manual), or "
            "choose a MIDI input.";
        t.clickFailedMessage = "Click failed: the desktop does not take it";
        t.keysTakenMessage = "Keys of other shortcuts: ";
        t.xwaylandMessage =
            "Quindel started as an X11 program (XWayland) on a Wayland desktop: its clicks would "
            "reach only X11 programs, so Quindel stays stopped. Install the package qt6-wayland "
            "and remove QT_QPA_PLATFORM=xcb from the environment, then start Quindel again.";
        t.noPointCaptureMessage = "Quindel cannot take a click point on this desktop.";
    }
}

CommandLineTexts commandLineTexts(uint8_t languageIndex) {
    if (languageIndex == kItalian)
        return {"Quindel non è in esecuzione: trigger non inviato",
                "Quindel è fermo (premere Start): trigger ignorato",
                "Codice di trigger non valido, usare il codice di un tasto (116), un comando "
                "MIDI (3C90), next o prev: ",
                "Il gruppo non assegna alcun codice al trigger ",
                "Quindel è in esecuzione ma non risponde",
                "Impossibile raggiungere Quindel: ",
                "Argomento sconosciuto: ",
                "Uso: quindel [--trigger CODICE | --print-bindings sway]",
                "Quindel è già in esecuzione: la sua finestra è in primo piano",
                "Il comando quindel --trigger non raggiungerà questo Quindel: ",
                "Quindel ha già 64 trigger in attesa: trigger ignorato",
                "Quindel è già in esecuzione ma non è raggiungibile: ",
                "Quindel non si avvia: non può bloccare la cartella dei suoi file ",
                "--print-bindings conosce un desktop: sway",
                "I tasti prendono il nome dalla disposizione di tastiera predefinita, "
                "senza quella del compositor: "};
    return {"Quindel is not running: the trigger was not sent",
            "Quindel is stopped (press Start): the trigger was dropped",
            "Not a trigger code, give a key's code (116), a MIDI command (3C90), next or prev: ",
            "The group assigns no code to the trigger ",
            "Quindel is running but does not answer",
            "Cannot reach Quindel: ",
            "Unknown argument: ",
            "Usage: quindel [--trigger CODE | --print-bindings sway]",
            "Quindel is already running: its window was brought to the front",
            "The command quindel --trigger will not reach this Quindel: ",
            "Quindel has 64 triggers waiting already: the trigger was dropped",
            "Quindel is already running but cannot be reached: ",
            "Quindel does not start: it cannot lock the folder of its files ",
            "--print-bindings knows one desktop: sway",
            "Keys are named by the default keyboard layout, without the compositor's: "};
}

} // namespace quindel
