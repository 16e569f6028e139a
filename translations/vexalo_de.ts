<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>FileMetadata</name>
    <message>
        <source>its access control list could not be kept</source>
        <translation>ihre Zugriffssteuerungsliste konnte nicht erhalten werden</translation>
    </message>
    <message>
        <source>its file capabilities could not be kept</source>
        <translation>ihre Datei-Capabilities konnten nicht erhalten werden</translation>
    </message>
    <message>
        <source>its security label (%1) could not be kept</source>
        <translation>ihr Sicherheitskennzeichen (%1) konnte nicht erhalten werden</translation>
    </message>
    <message>
        <source>its extended attribute %1 could not be kept</source>
        <translation>ihr erweitertes Attribut %1 konnte nicht erhalten werden</translation>
    </message>
    <message>
        <source>its attributes could not be read</source>
        <translation>ihre Attribute konnten nicht gelesen werden</translation>
    </message>
    <message>
        <source>%1 was replaced by another file while it was being processed</source>
        <translation>%1 wurde während der Bearbeitung durch eine andere Datei ersetzt</translation>
    </message>
    <message>
        <source>its extended attribute %1 could not be read</source>
        <translation>ihr erweitertes Attribut %1 konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>its owner (%1) could not be kept</source>
        <translation>ihr Eigentümer (%1) konnte nicht erhalten werden</translation>
    </message>
    <message>
        <source>its group (%1) could not be kept</source>
        <translation>ihre Gruppe (%1) konnte nicht erhalten werden</translation>
    </message>
    <message>
        <source>its set-user-ID or set-group-ID bit could not be kept</source>
        <translation>ihr Set-User-ID- oder Set-Group-ID-Bit konnte nicht erhalten werden</translation>
    </message>
</context>
<context>
    <name>FileOps</name>
    <message>
        <source>the file is marked immutable</source>
        <translation>die Datei ist als unveränderlich markiert</translation>
    </message>
    <message>
        <source>the file is marked append-only</source>
        <translation>die Datei ist als nur erweiterbar markiert</translation>
    </message>
    <message>
        <source>its folder is marked immutable</source>
        <translation>ihr Ordner ist als unveränderlich markiert</translation>
    </message>
    <message>
        <source>its folder is marked append-only</source>
        <translation>ihr Ordner ist als nur erweiterbar markiert</translation>
    </message>
    <message>
        <source>it is too large to hold in memory (%1 bytes)</source>
        <translation>sie ist zu groß für den Arbeitsspeicher (%1 Bytes)</translation>
    </message>
    <message>
        <source>it is a link to a file that does not exist</source>
        <translation>sie ist eine Verknüpfung auf eine Datei, die es nicht gibt</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>sie ist keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>the file is read-only</source>
        <translation>die Datei ist schreibgeschützt</translation>
    </message>
    <message>
        <source>it was changed by another program while it was being processed; its new content was left as it is</source>
        <translation>ein anderes Programm hat sie während der Bearbeitung geändert; ihr neuer Inhalt blieb, wie er ist</translation>
    </message>
    <message>
        <source>written, but not synced</source>
        <translation>geschrieben, aber nicht auf den Datenträger übertragen</translation>
    </message>
    <message>
        <source>another file named %1 already exists</source>
        <translation>es gibt schon eine andere Datei namens %1</translation>
    </message>
    <message>
        <source>the folder &quot;%1&quot; cannot be written</source>
        <translation>in den Ordner „%1“ kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>a folder has its name</source>
        <translation>ein Ordner trägt ihren Namen</translation>
    </message>
    <message>
        <source>something that is not a regular file (a device, a pipe or a socket) has its name</source>
        <translation>etwas, das keine gewöhnliche Datei ist (ein Gerät, eine Pipe oder ein Socket), trägt ihren Namen</translation>
    </message>
    <message>
        <source>it is a link</source>
        <translation>sie ist eine Verknüpfung</translation>
    </message>
    <message>
        <source>another program kept it locked for too long</source>
        <translation>ein anderes Programm hielt sie zu lange gesperrt</translation>
    </message>
    <message>
        <source>it is locked by another program</source>
        <translation>sie ist von einem anderen Programm gesperrt</translation>
    </message>
    <message>
        <source>it was replaced again and again while waiting for its lock</source>
        <translation>sie wurde während des Wartens auf ihre Sperre immer wieder ersetzt</translation>
    </message>
    <message>
        <source>its folder lets only the file&apos;s owner replace it</source>
        <translation>ihr Ordner lässt nur den Eigentümer der Datei sie ersetzen</translation>
    </message>
</context>
<context>
    <name>HandOff</name>
    <message>
        <source>%1 could not be written: %2</source>
        <translation>%1 konnte nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>HelpLinks</name>
    <message>
        <source>Error sending email!</source>
        <translation>Fehler beim Senden der E-Mail!</translation>
    </message>
    <message>
        <source>Send Email to Author</source>
        <translation>E-Mail an den Autor senden</translation>
    </message>
    <message>
        <source>Could not locate web site!  Error %1</source>
        <translation>Die Website wurde nicht gefunden!  Fehler %1</translation>
    </message>
    <message>
        <source>Could not locate forum site!  Error %1</source>
        <translation>Das Forum wurde nicht gefunden!  Fehler %1</translation>
    </message>
    <message>
        <source>Something went wrong, but I don&apos;t know what!  Error %1</source>
        <translation>Etwas ist schiefgegangen, aber ich weiß nicht, was!  Fehler %1</translation>
    </message>
</context>
<context>
    <name>OnlineUpdate</name>
    <message>
        <source>%1 could not be renamed to %2: %3</source>
        <translation>%1 konnte nicht in %2 umbenannt werden: %3</translation>
    </message>
    <message>
        <source>Vexalo will close to check for online updates!</source>
        <translation>Vexalo wird geschlossen, um online nach Aktualisierungen zu suchen!</translation>
    </message>
    <message>
        <source>Online Update</source>
        <translation>Online-Aktualisierung</translation>
    </message>
    <message>
        <source>%1 could not be started: %2</source>
        <translation>%1 konnte nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>Error updating Vexalo.  Close all programs and try again!</source>
        <translation>Fehler beim Aktualisieren von Vexalo.  Schließen Sie alle Programme und versuchen Sie es erneut!</translation>
    </message>
    <message>
        <source>Fennick</source>
        <translation>Fennick</translation>
    </message>
</context>
<context>
    <name>ProtectedList</name>
    <message>
        <source>the protected-extension list %1 cannot be read: %2</source>
        <translation>die Liste der geschützten Endungen %1 kann nicht gelesen werden: %2</translation>
    </message>
</context>
<context>
    <name>QtProcessLauncher</name>
    <message>
        <source>The program &quot;%1&quot; was not found.</source>
        <translation>Das Programm „%1“ wurde nicht gefunden.</translation>
    </message>
</context>
<context>
    <name>RunProgress</name>
    <message>
        <source>Stop</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Stopping after the files in work...</source>
        <translation>Anhalten nach den Dateien in Arbeit …</translation>
    </message>
    <message numerus="yes">
        <source>Working through %Ln files...</source>
        <translation>
            <numerusform>Bearbeite %Ln Datei...</numerusform>
            <numerusform>Bearbeite %Ln Dateien...</numerusform>
        </translation>
    </message>
    <message>
        <source>Waiting for another program to let go of %1 (at most a minute for the whole run)...</source>
        <translation>Warten, bis ein anderes Programm %1 freigibt (höchstens eine Minute für den ganzen Lauf) …</translation>
    </message>
</context>
<context>
    <name>SettingsStore</name>
    <message>
        <source>The settings store %1 is not in a form the program can read.</source>
        <translation>Der Einstellungsspeicher %1 hat keine Form, die das Programm lesen kann.</translation>
    </message>
    <message>
        <source>The settings store %1 cannot be read or written.</source>
        <translation>Der Einstellungsspeicher %1 kann nicht gelesen oder geschrieben werden.</translation>
    </message>
</context>
<context>
    <name>ViewerSave</name>
    <message>
        <source>There is no file to save to: open a file from the file list first.</source>
        <translation>Es gibt keine Datei zum Speichern: Öffnen Sie zuerst eine Datei aus der Dateiliste.</translation>
    </message>
    <message>
        <source>%1 was not saved: the text holds characters that the file&apos;s encoding, %2, cannot represent.</source>
        <translation>%1 wurde nicht gespeichert: Der Text enthält Zeichen, die die Kodierung der Datei, %2, nicht darstellen kann.</translation>
    </message>
    <message>
        <source>Could not save %1: %2.</source>
        <translation>%1 konnte nicht gespeichert werden: %2.</translation>
    </message>
    <message>
        <source>%1 was changed on disk after it was opened here, perhaps by another program.

OK overwrites that change with the text shown here; Cancel leaves the file as it is. The text shown here stays either way.</source>
        <translation>%1 wurde auf dem Datenträger geändert, nachdem sie hier geöffnet wurde, vielleicht von einem anderen Programm.

OK überschreibt diese Änderung mit dem hier gezeigten Text; Abbrechen lässt die Datei, wie sie ist. Der hier gezeigte Text bleibt in beiden Fällen erhalten.</translation>
    </message>
</context>
<context>
    <name>frmAbout</name>
    <message>
        <source>About Vexalo</source>
        <translation>Über Vexalo</translation>
    </message>
    <message>
        <source>Vexalo. Find it once, replace it everywhere.</source>
        <translation>Vexalo. Einmal finden, überall ersetzen.</translation>
    </message>
    <message>
        <source>Copyright © 2026 The Vexalo developers</source>
        <translation>Copyright © 2026 Die Vexalo-Entwickler</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>Vexalo</source>
        <translation>Vexalo</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Alle</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Lower</source>
        <translation>Klein</translation>
    </message>
    <message>
        <source>Upper</source>
        <translation>Groß</translation>
    </message>
    <message>
        <source>Create Backups</source>
        <translation>Mit Sicherung</translation>
    </message>
    <message>
        <source>Case Sensitive</source>
        <translation>Groß/Klein</translation>
    </message>
    <message>
        <source>Trim Blank Lines</source>
        <translation>Leerzeilen kürzen</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Zurückholen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Pattern:</source>
        <translation>Muster:</translation>
    </message>
    <message>
        <source>Replace This:</source>
        <translation>Dies ersetzen:</translation>
    </message>
    <message>
        <source>With This:</source>
        <translation>Hierdurch:</translation>
    </message>
    <message>
        <source>Results:</source>
        <translation>Ergebnis:</translation>
    </message>
    <message>
        <source>Last Folder:</source>
        <translation>Zuletzt:</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Email Author</source>
        <translation>E-Mail an den Autor</translation>
    </message>
    <message>
        <source>Web Site</source>
        <translation>Website</translation>
    </message>
    <message>
        <source>Discussion Forums</source>
        <translation>Diskussionsforen</translation>
    </message>
    <message>
        <source>Online Help</source>
        <translation>Online-Hilfe</translation>
    </message>
    <message>
        <source>Online Update</source>
        <translation>Online-Aktualisierung</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Popup</source>
        <translation>Kontextmenü</translation>
    </message>
    <message>
        <source>Upper Case</source>
        <translation>Großbuchstaben</translation>
    </message>
    <message>
        <source>Lower Case</source>
        <translation>Kleinbuchstaben</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>UnSelect All</source>
        <translation>Auswahl aufheben</translation>
    </message>
    <message>
        <source>Drive</source>
        <translation>Laufwerk</translation>
    </message>
    <message>
        <source>Folders</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>A click opens a folder.</source>
        <translation>Ein Klick öffnet einen Ordner.</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Double-click or Enter shows a file in the viewer; the context menu changes case and selection.</source>
        <translation>Doppelklick oder Eingabetaste zeigt eine Datei im Betrachter; das Kontextmenü ändert Schreibweise und Auswahl.</translation>
    </message>
    <message>
        <source>Selects every file in the list.</source>
        <translation>Wählt jede Datei der Liste aus.</translation>
    </message>
    <message>
        <source>Unselects every file in the list.</source>
        <translation>Hebt die Auswahl jeder Datei der Liste auf.</translation>
    </message>
    <message>
        <source>Renames the selected files to lower case.</source>
        <translation>Benennt die ausgewählten Dateien in Kleinbuchstaben um.</translation>
    </message>
    <message>
        <source>Renames the selected files to upper case.</source>
        <translation>Benennt die ausgewählten Dateien in Großbuchstaben um.</translation>
    </message>
    <message>
        <source>Pattern</source>
        <translation>Muster</translation>
    </message>
    <message>
        <source>The files listed: wildcards * and ?, several separated by ;</source>
        <translation>Die gezeigten Dateien: Platzhalter * und ?, mehrere durch ; getrennt</translation>
    </message>
    <message>
        <source>Replace This</source>
        <translation>Dies ersetzen</translation>
    </message>
    <message>
        <source>With This</source>
        <translation>Hierdurch</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Ergebnisse</translation>
    </message>
    <message>
        <source>One line per file of the last run.</source>
        <translation>Eine Zeile je Datei des letzten Durchgangs.</translation>
    </message>
    <message>
        <source>A click swaps the text to find and its replacement.</source>
        <translation>Ein Klick vertauscht den Suchtext und seinen Ersatz.</translation>
    </message>
    <message>
        <source>A click steps through the last five run folders.</source>
        <translation>Ein Klick geht durch die letzten fünf Ordner der Durchgänge.</translation>
    </message>
    <message>
        <source>Last Folder</source>
        <translation>Letzter Ordner</translation>
    </message>
    <message>
        <source>A double-click goes back to this folder.</source>
        <translation>Ein Doppelklick kehrt zu diesem Ordner zurück.</translation>
    </message>
    <message>
        <source>Removes line breaks from the ends of both texts before a run.</source>
        <translation>Entfernt vor einem Durchgang Zeilenumbrüche am Ende beider Texte.</translation>
    </message>
    <message>
        <source>Puts back the .old backups of the selected files.</source>
        <translation>Holt die .old-Sicherungen der ausgewählten Dateien zurück.</translation>
    </message>
    <message>
        <source>File commands</source>
        <translation>Dateibefehle</translation>
    </message>
    <message>
        <source>The settings could not be saved.
%1</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden.
%1</translation>
    </message>
    <message>
        <source>Selected drive not available!</source>
        <translation>Das gewählte Laufwerk ist nicht verfügbar!</translation>
    </message>
    <message>
        <source>Change Drive</source>
        <translation>Laufwerk wechseln</translation>
    </message>
    <message>
        <source>Cannot make &quot;%1&quot; the working folder: %2</source>
        <translation>„%1“ kann nicht zum Arbeitsordner werden: %2</translation>
    </message>
    <message>
        <source>Change Folder</source>
        <translation>Ordner wechseln</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be opened: %2</source>
        <translation>Der Ordner „%1“ kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>No files selected!</source>
        <translation>Keine Dateien ausgewählt!</translation>
    </message>
    <message>
        <source>Find &amp; Replace</source>
        <translation>Suchen und Ersetzen</translation>
    </message>
    <message>
        <source>Cannot read &quot;%1&quot;: %2</source>
        <translation>„%1“ kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>Viewer</source>
        <translation>Betrachter</translation>
    </message>
    <message>
        <source>%1 → %2: %3</source>
        <translation>%1 → %2: %3</translation>
    </message>
    <message>
        <source>These files were not renamed:
%1</source>
        <translation>Diese Dateien wurden nicht umbenannt:
%1</translation>
    </message>
    <message>
        <source>Menu bar</source>
        <translation>Menüleiste</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>Ausführen</translation>
    </message>
    <message>
        <source>&amp;Preview</source>
        <translation>&amp;Vorschau</translation>
    </message>
    <message>
        <source>Shows what Replace would do to the selected files, writing nothing.</source>
        <translation>Zeigt, was Ersetzen mit den ausgewählten Dateien täte, ohne etwas zu schreiben.</translation>
    </message>
    <message>
        <source>&amp;Replace</source>
        <translation>&amp;Ersetzen</translation>
    </message>
    <message>
        <source>Rest&amp;ore</source>
        <translation>&amp;Zurückholen</translation>
    </message>
    <message>
        <source>Replace did not start, so no file was changed: %1.</source>
        <translation>Ersetzen wurde nicht gestartet, keine Datei wurde geändert: %1.</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>&amp;Undo Last Run</source>
        <translation>Letzten Lauf &amp;rückgängig machen</translation>
    </message>
    <message>
        <source>Puts back the files the last Replace run changed, where they have not changed since.</source>
        <translation>Stellt die Dateien wieder her, die der letzte Ersetzen-Lauf geändert hat, soweit sie seither unverändert sind.</translation>
    </message>
    <message>
        <source>Undo Last Run</source>
        <translation>Letzten Lauf rückgängig machen</translation>
    </message>
    <message>
        <source>Preview did not start: %1.</source>
        <translation>Die Vorschau wurde nicht gestartet: %1.</translation>
    </message>
    <message numerus="yes">
        <source>Stopped: %Ln files were not processed.</source>
        <translation>
            <numerusform>Angehalten: %Ln Datei wurde nicht bearbeitet.</numerusform>
            <numerusform>Angehalten: %Ln Dateien wurden nicht bearbeitet.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Undo the Replace run of %1 in %2?

%Ln files will get back what they held before it, each only if it still holds exactly what the run wrote.</source>
        <translation>
            <numerusform>Den Ersetzen-Lauf vom %1 in %2 rückgängig machen?

%Ln Datei erhält zurück, was sie vorher enthielt, nur wenn sie noch genau das enthält, was der Lauf geschrieben hat.</numerusform>
            <numerusform>Den Ersetzen-Lauf vom %1 in %2 rückgängig machen?

%Ln Dateien erhalten zurück, was sie vorher enthielten, jede nur, wenn sie noch genau das enthält, was der Lauf geschrieben hat.</numerusform>
        </translation>
    </message>
    <message>
        <source>(the find text is a regular expression)</source>
        <translation>(der Suchtext ist ein regulärer Ausdruck)</translation>
    </message>
    <message>
        <source>Regular &amp;Expression</source>
        <translation>Regulärer &amp;Ausdruck</translation>
    </message>
    <message>
        <source>Takes the find text as a regular expression; the replacement may use its groups as $1 or ${name}.</source>
        <translation>Nimmt den Suchtext als regulären Ausdruck; die Ersetzung kann seine Gruppen als $1 oder ${name} verwenden.</translation>
    </message>
    <message>
        <source>The replacement cannot be used: %1 (at character %2 of With This).</source>
        <translation>Die Ersetzung kann nicht verwendet werden: %1 (bei Zeichen %2 von „Hierdurch“).</translation>
    </message>
    <message>
        <source>The regular expression cannot be used: %1 (at character %2 of Replace This).</source>
        <translation>Der reguläre Ausdruck kann nicht verwendet werden: %1 (bei Zeichen %2 von „Dies ersetzen“).</translation>
    </message>
    <message numerus="yes">
        <source>%Ln files of the run cannot be undone.</source>
        <translation>
            <numerusform>%Ln Datei des Laufs kann nicht rückgängig gemacht werden.</numerusform>
            <numerusform>%Ln Dateien des Laufs können nicht rückgängig gemacht werden.</numerusform>
        </translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source> (the text to find is empty)</source>
        <translation> (der Suchtext ist leer)</translation>
    </message>
</context>
<context>
    <name>frmViewer</name>
    <message>
        <source>Viewer</source>
        <translation>Betrachter</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>File text</source>
        <translation>Text der Datei</translation>
    </message>
    <message>
        <source>Writes the text back to the file, in its own encoding and line breaks.</source>
        <translation>Schreibt den Text in die Datei zurück, in ihrer eigenen Kodierung und mit ihren Zeilenumbrüchen.</translation>
    </message>
    <message>
        <source>File name</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>it is too large for the viewer: %1, where the viewer shows files of up to %2</source>
        <translation>sie ist zu groß für den Betrachter: %1, der Betrachter zeigt Dateien bis %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is too large for the viewer. It is %2; the viewer shows files of up to %3.</source>
        <translation>„%1“ ist zu groß für den Betrachter. Die Datei hat %2; der Betrachter zeigt Dateien bis %3.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Finds a text in a set of files and replaces it, in one batch, in a window.
vexalo4-cli does the same on the command line.</source>
        <translation>Sucht einen Text in mehreren Dateien und ersetzt ihn in einem Durchgang, in einem Fenster.
vexalo4-cli tut dasselbe auf der Befehlszeile.</translation>
    </message>
</context>
<context>
    <name>vexalo</name>
    <message>
        <source>a temporary file left by an interrupted run, not one of yours; it was not touched and may be deleted</source>
        <translation>eine Zwischendatei eines abgebrochenen Durchgangs, keine Ihrer Dateien; sie wurde nicht angerührt und darf gelöscht werden</translation>
    </message>
    <message>
        <source>the replacement text has characters that cannot be written in this file&apos;s encoding (%1); the file was left unchanged</source>
        <translation>der Ersatztext enthält Zeichen, die sich in der Kodierung dieser Datei (%1) nicht schreiben lassen; die Datei blieb unverändert</translation>
    </message>
    <message>
        <source>the backup could not be made, so the file was left unchanged: %1</source>
        <translation>die Sicherung konnte nicht angelegt werden, deshalb blieb die Datei unverändert: %1</translation>
    </message>
    <message>
        <source>written, but the disk could not be synced: %1</source>
        <translation>geschrieben, aber der Datenträger konnte nicht synchronisiert werden: %1</translation>
    </message>
    <message>
        <source>the backup could not be read: %1</source>
        <translation>die Sicherung konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>the file was restored, but its backup could not be deleted: %1</source>
        <translation>die Datei wurde zurückgeholt, aber ihre Sicherung konnte nicht gelöscht werden: %1</translation>
    </message>
    <message>
        <source>:  replaced</source>
        <translation>:  ersetzt</translation>
    </message>
    <message>
        <source>:  not found</source>
        <translation>:  nicht gefunden</translation>
    </message>
    <message>
        <source>:  protected file</source>
        <translation>:  geschützte Datei</translation>
    </message>
    <message>
        <source>:  restored</source>
        <translation>:  zurückgeholt</translation>
    </message>
    <message>
        <source>:  not restored</source>
        <translation>:  nicht zurückgeholt</translation>
    </message>
    <message>
        <source>:  failed: </source>
        <translation>:  fehlgeschlagen: </translation>
    </message>
    <message>
        <source>:  1 match</source>
        <translation>:  1 Treffer</translation>
    </message>
    <message>
        <source>:  %1 matches</source>
        <translation>:  %1 Treffer</translation>
    </message>
    <message>
        <source> (binary content)</source>
        <translation> (binärer Inhalt)</translation>
    </message>
    <message>
        <source>it is larger than the journal&apos;s room (%1)</source>
        <translation>sie ist größer als der Platz des Journals (%1)</translation>
    </message>
    <message>
        <source>the journal&apos;s room (%1) is taken by the run&apos;s other files</source>
        <translation>der Platz des Journals (%1) ist von den anderen Dateien des Laufs belegt</translation>
    </message>
    <message>
        <source>the journal is closed</source>
        <translation>das Journal ist geschlossen</translation>
    </message>
    <message>
        <source>the journal could not keep it: %1</source>
        <translation>das Journal konnte sie nicht aufbewahren: %1</translation>
    </message>
    <message>
        <source>the journal could not keep it</source>
        <translation>das Journal konnte sie nicht aufbewahren</translation>
    </message>
    <message>
        <source>the journal could not record it: %1</source>
        <translation>das Journal konnte sie nicht verzeichnen: %1</translation>
    </message>
    <message>
        <source>the journal folder %1 is not a folder of this user&apos;s</source>
        <translation>der Journal-Ordner %1 gehört nicht diesem Benutzer</translation>
    </message>
    <message>
        <source>the journal cannot be read: %1</source>
        <translation>das Journal kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>the last run was undone already; there is no run to undo</source>
        <translation>der letzte Lauf wurde schon rückgängig gemacht; es gibt keinen Lauf rückgängig zu machen</translation>
    </message>
    <message>
        <source>there is no run to undo</source>
        <translation>es gibt keinen Lauf rückgängig zu machen</translation>
    </message>
    <message>
        <source>the journal in %1 could not be written, so this run cannot be undone: %2</source>
        <translation>das Journal in %1 konnte nicht geschrieben werden, daher kann dieser Lauf nicht rückgängig gemacht werden: %2</translation>
    </message>
    <message>
        <source>the journal did not keep its old content: %1</source>
        <translation>das Journal hat ihren alten Inhalt nicht aufbewahrt: %1</translation>
    </message>
    <message>
        <source>it was deleted since the run</source>
        <translation>sie wurde seit dem Lauf gelöscht</translation>
    </message>
    <message>
        <source>it was changed since the run; it was left as it is</source>
        <translation>sie wurde seit dem Lauf geändert; sie blieb, wie sie ist</translation>
    </message>
    <message>
        <source>its old content could not be read from the journal: %1</source>
        <translation>ihr alter Inhalt konnte nicht aus dem Journal gelesen werden: %1</translation>
    </message>
    <message>
        <source>its old content in the journal was changed; the file was left as it is</source>
        <translation>ihr alter Inhalt im Journal wurde verändert; die Datei blieb, wie sie ist</translation>
    </message>
    <message>
        <source>:  replaced (cannot be undone: %1)</source>
        <translation>:  ersetzt (nicht rückgängig zu machen: %1)</translation>
    </message>
    <message>
        <source>the journal in %1 could not be saved to the disk, so this run may not be undone after a system crash: %2</source>
        <translation>das Journal in %1 konnte nicht auf den Datenträger geschrieben werden; nach einem Systemabsturz lässt sich dieser Lauf womöglich nicht rückgängig machen: %2</translation>
    </message>
    <message>
        <source>the regular expression cannot be used: %1</source>
        <translation>der reguläre Ausdruck kann nicht verwendet werden: %1</translation>
    </message>
    <message>
        <source>:  not found (%1)</source>
        <translation>:  nicht gefunden (%1)</translation>
    </message>
    <message>
        <source>the replacement refers to group &quot;%1&quot;, which the pattern does not have</source>
        <translation>die Ersetzung verweist auf die Gruppe „%1“, die das Muster nicht hat</translation>
    </message>
    <message>
        <source>the pattern has characters that a Latin-1 file cannot hold</source>
        <translation>das Muster enthält Zeichen, die eine Latin-1-Datei nicht aufnehmen kann</translation>
    </message>
    <message>
        <source>the pattern cannot be used in a %1 file: %2</source>
        <translation>das Muster kann in einer Datei in %1 nicht verwendet werden: %2</translation>
    </message>
    <message>
        <source>a match would need more than 64 MiB of the file at once; the file was left unchanged</source>
        <translation>ein Treffer bräuchte mehr als 64 MiB der Datei auf einmal; die Datei blieb unverändert</translation>
    </message>
    <message>
        <source>the pattern is too complex for this file; the file was left unchanged</source>
        <translation>das Muster ist für diese Datei zu komplex; die Datei blieb unverändert</translation>
    </message>
    <message>
        <source>the file&apos;s text is not valid in its encoding</source>
        <translation>der Text der Datei ist in ihrer Kodierung nicht gültig</translation>
    </message>
    <message>
        <source>stopped before the file was finished; the file was left unchanged</source>
        <translation>angehalten, bevor die Datei fertig war; die Datei blieb unverändert</translation>
    </message>
    <message>
        <source>XDG_STATE_HOME is not used for the journal (%1); it is kept in %2</source>
        <translation>XDG_STATE_HOME wird für das Journal nicht verwendet (%1); es liegt in %2</translation>
    </message>
    <message>
        <source>%1; the journal keeps copies of this run&apos;s files in %2 instead</source>
        <translation>%1; das Journal bewahrt Kopien der Dateien dieses Laufs stattdessen in %2 auf</translation>
    </message>
    <message>
        <source>the file system could not swap it into the journal</source>
        <translation>das Dateisystem konnte sie nicht ins Journal tauschen</translation>
    </message>
    <message>
        <source>the journal could not be saved to the disk: %1</source>
        <translation>das Journal konnte nicht auf den Datenträger geschrieben werden: %1</translation>
    </message>
    <message>
        <source>its old content is not in the journal (the run could not keep it there)</source>
        <translation>ihr alter Inhalt ist nicht im Journal (der Lauf konnte ihn dort nicht aufbewahren)</translation>
    </message>
    <message>
        <source>it was renamed or replaced since the run</source>
        <translation>sie wurde seit dem Lauf umbenannt oder ersetzt</translation>
    </message>
    <message>
        <source>it was renamed or replaced since the run; it was left as it is</source>
        <translation>sie wurde seit dem Lauf umbenannt oder ersetzt; sie blieb, wie sie ist</translation>
    </message>
    <message>
        <source>run %1 (begun %2 in %3) is still going on; undo once it has finished</source>
        <translation>Lauf %1 (begonnen %2 in %3) läuft noch; machen Sie ihn rückgängig, wenn er beendet ist</translation>
    </message>
    <message>
        <source>a run is still going on; undo once it has finished</source>
        <translation>ein Lauf läuft noch; machen Sie ihn rückgängig, wenn er beendet ist</translation>
    </message>
    <message>
        <source>the journal&apos;s record of run %1 cannot be read: %2</source>
        <translation>die Aufzeichnung des Journals zu Lauf %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>line %1: %2</source>
        <translation>Zeile %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n record(s) of run %1 cannot be read, so the files they name cannot be undone (%2)</source>
        <translation>
            <numerusform>%n Aufzeichnung von Lauf %1 kann nicht gelesen werden, daher können die Dateien, die sie nennt, nicht rückgängig gemacht werden (%2)</numerusform>
            <numerusform>%n Aufzeichnungen von Lauf %1 können nicht gelesen werden, daher können die Dateien, die sie nennen, nicht rückgängig gemacht werden (%2)</numerusform>
        </translation>
    </message>
    <message>
        <source>Preview: %1, %2, %3, %4; nothing was written</source>
        <translation>Vorschau: %1, %2, %3, %4; nichts wurde geschrieben</translation>
    </message>
    <message numerus="yes">
        <source>%Ln files</source>
        <translation>
            <numerusform>%Ln Datei</numerusform>
            <numerusform>%Ln Dateien</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln with matches</source>
        <translation>
            <numerusform>%Ln mit Treffern</numerusform>
            <numerusform>%Ln mit Treffern</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln matches in all</source>
        <translation>
            <numerusform>%Ln Treffer insgesamt</numerusform>
            <numerusform>%Ln Treffer insgesamt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln would fail</source>
        <translation>
            <numerusform>%Ln würde scheitern</numerusform>
            <numerusform>%Ln würden scheitern</numerusform>
        </translation>
    </message>
    <message>
        <source>the last run, run %1, is kept on %2, which is not mounted now; mount it to undo the run</source>
        <translation>der letzte Lauf, Lauf %1, liegt auf %2, das gerade nicht eingehängt ist; hängen Sie es ein, um den Lauf rückgängig zu machen</translation>
    </message>
    <message>
        <source>the list of volumes in %1 could not be written</source>
        <translation>die Liste der Datenträger in %1 konnte nicht geschrieben werden</translation>
    </message>
</context>
<context>
    <name>vexalo::journal</name>
    <message>
        <source>the folder %1 belongs to another user</source>
        <translation>der Ordner %1 gehört einem anderen Benutzer</translation>
    </message>
    <message>
        <source>the folder %1 can be changed by other users</source>
        <translation>der Ordner %1 kann von anderen Benutzern geändert werden</translation>
    </message>
    <message>
        <source>%1 is not a full path</source>
        <translation>%1 ist kein vollständiger Pfad</translation>
    </message>
    <message>
        <source>%1 is not a plain path</source>
        <translation>%1 ist kein einfacher Pfad</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 is a link</source>
        <translation>%1 ist eine Verknüpfung</translation>
    </message>
    <message>
        <source>%1 is not a folder</source>
        <translation>%1 ist kein Ordner</translation>
    </message>
    <message>
        <source>the journal folder %1 could not be made</source>
        <translation>der Journal-Ordner %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>the journal folder %1 is not a folder of this user&apos;s</source>
        <translation>der Journal-Ordner %1 gehört nicht diesem Benutzer</translation>
    </message>
    <message>
        <source>the journal folder %1 is not a folder of this user&apos;s that only they may open</source>
        <translation>der Journal-Ordner %1 ist kein Ordner dieses Benutzers, den nur er öffnen darf</translation>
    </message>
    <message>
        <source>its checksum does not match</source>
        <translation>ihre Prüfsumme stimmt nicht</translation>
    </message>
    <message>
        <source>it is of a kind this version does not know (%1)</source>
        <translation>sie ist von einer Art, die diese Version nicht kennt (%1)</translation>
    </message>
    <message>
        <source>its field &quot;%1&quot; is missing or not readable</source>
        <translation>ihr Feld „%1“ fehlt oder ist nicht lesbar</translation>
    </message>
    <message>
        <source>its kept name is not one the program gives</source>
        <translation>ihr aufbewahrter Name ist keiner, den das Programm vergibt</translation>
    </message>
    <message>
        <source>it was written by an earlier version of the program</source>
        <translation>es wurde von einer früheren Version des Programms geschrieben</translation>
    </message>
    <message>
        <source>its first line cannot be read: %1</source>
        <translation>seine erste Zeile kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>it was written by a later version of the program</source>
        <translation>es wurde von einer späteren Version des Programms geschrieben</translation>
    </message>
    <message>
        <source>it repeats the run&apos;s first line</source>
        <translation>sie wiederholt die erste Zeile des Laufs</translation>
    </message>
    <message>
        <source>it is empty</source>
        <translation>es ist leer</translation>
    </message>
</context>
</TS>
