<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>RulesFile</name>
    <message>
        <source>there is no such file</source>
        <translation>die Datei gibt es nicht</translation>
    </message>
    <message>
        <source>it is a symbolic link whose target is missing (a drive not mounted?)</source>
        <translation>sie ist ein symbolischer Link, dessen Ziel fehlt (ein Laufwerk nicht eingehängt?)</translation>
    </message>
    <message>
        <source>it is larger than the limit of %1 MB</source>
        <translation>sie ist größer als die Grenze von %1 MB</translation>
    </message>
    <message>
        <source>it is not a regular file (a FIFO, a device or a folder)</source>
        <translation>sie ist keine gewöhnliche Datei (ein FIFO, ein Gerät oder ein Ordner)</translation>
    </message>
    <message>
        <source>it holds more than the limit of %1 elements</source>
        <translation>sie enthält mehr Elemente als die Grenze von %1</translation>
    </message>
    <message>
        <source>its path is a loop of symbolic links</source>
        <translation>ihr Pfad ist eine Schleife symbolischer Links</translation>
    </message>
</context>
<context>
    <name>zel-admin</name>
    <message>
        <source>the services&apos; rules were changed meanwhile (by another administrator?): nothing was changed; read them again and choose anew</source>
        <translation>die Regeln der Dienste wurden inzwischen geändert (von einem anderen Administrator?): nichts wurde geändert; lesen Sie sie erneut und wählen Sie neu</translation>
    </message>
    <message>
        <source>usage: zel-admin protect|start|stop [--user UID]
       zel-admin services-rules [--over DIGEST] [FILE]   (FILE an absolute path; none: standard input)
</source>
        <translation>Aufruf: zel-admin protect|start|stop [--user UID]
        zel-admin services-rules [--over PRÜFSUMME] [DATEI]   (DATEI ein absoluter Pfad; keine: Standardeingabe)
</translation>
    </message>
    <message>
        <source>the kernel layer is not installed (%1)</source>
        <translation>die Kernel-Schicht ist nicht installiert (%1)</translation>
    </message>
    <message>
        <source>systemctl could not start the kernel layer</source>
        <translation>systemctl konnte die Kernel-Schicht nicht starten</translation>
    </message>
    <message>
        <source>the kernel layer is not installed beside this program</source>
        <translation>die Kernel-Schicht ist nicht neben diesem Programm installiert</translation>
    </message>
    <message>
        <source>the rules are larger than a rules file may be</source>
        <translation>die Regeln sind größer, als eine Regeldatei sein darf</translation>
    </message>
    <message>
        <source>%1: the rules file is named by its absolute path</source>
        <translation>%1: die Regeldatei wird mit ihrem absoluten Pfad angegeben</translation>
    </message>
    <message>
        <source>%1 is a symbolic link; name the file itself</source>
        <translation>%1 ist ein symbolischer Link; geben Sie die Datei selbst an</translation>
    </message>
    <message>
        <source>%1 is not a regular file</source>
        <translation>%1 ist keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>%1 is not the caller&apos;s own file</source>
        <translation>%1 ist keine eigene Datei des Aufrufers</translation>
    </message>
    <message>
        <source>the rules do not read: %1</source>
        <translation>die Regeln lassen sich nicht lesen: %1</translation>
    </message>
    <message>
        <source>the entry %1 is not a service&apos;s (ISSERVICE 1): the services&apos; rules hold no other</source>
        <translation>der Eintrag %1 ist keiner eines Dienstes (ISSERVICE 1): die Regeln der Dienste enthalten keine anderen</translation>
    </message>
    <message>
        <source>user %1 is no administrator (a member of %2): the services&apos; rules are not changed</source>
        <translation>Benutzer %1 ist kein Administrator (Mitglied von %2): die Regeln der Dienste werden nicht geändert</translation>
    </message>
    <message>
        <source>cannot make %1: %2</source>
        <translation>%1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>must run as root (the control panel runs it through pkexec)</source>
        <translation>muss als root laufen (die Steuerzentrale startet es über pkexec)</translation>
    </message>
</context>
<context>
    <name>zel-backstop</name>
    <message>
        <source>%1 is not the backstop&apos;s: %2</source>
        <translation>%1 gehört nicht zum Backstop: %2</translation>
    </message>
    <message>
        <source>cannot remove %1</source>
        <translation>%1 kann nicht entfernt werden</translation>
    </message>
    <message numerus="yes">
        <source>unpinned, but %n of its programs are still held by another process</source>
        <translation>
            <numerusform>gelöst, aber %n seiner Programme wird noch von einem anderen Prozess gehalten</numerusform>
            <numerusform>gelöst, aber %n seiner Programme werden noch von einem anderen Prozess gehalten</numerusform>
        </translation>
    </message>
    <message>
        <source>not started</source>
        <translation>nicht gestartet</translation>
    </message>
    <message>
        <source>removing what an interrupted start or stop left in %1</source>
        <translation>entferne, was ein abgebrochener Start oder Stopp in %1 hinterlassen hat</translation>
    </message>
    <message>
        <source>was not running</source>
        <translation>lief nicht</translation>
    </message>
    <message>
        <source>left as it is</source>
        <translation>bleibt, wie es ist</translation>
    </message>
    <message>
        <source>stopped; nothing of it is attached any more</source>
        <translation>gestoppt; nichts davon ist mehr angehängt</translation>
    </message>
    <message>
        <source> (its folder is kept: it holds files that are not the backstop&apos;s)</source>
        <translation> (sein Ordner bleibt: Er enthält Dateien, die nicht zum Backstop gehören)</translation>
    </message>
    <message>
        <source>not relaying: another relay serves this backstop</source>
        <translation>keine Weiterleitung: Ein anderer Weiterleiter bedient diesen Backstop</translation>
    </message>
    <message>
        <source>not relaying: not running</source>
        <translation>keine Weiterleitung: läuft nicht</translation>
    </message>
    <message>
        <source>not running (nothing whole pinned in %1)</source>
        <translation>läuft nicht (in %1 ist nichts vollständig festgehalten)</translation>
    </message>
    <message>
        <source>cannot listen on %1: %2 (notices go to the journal only)</source>
        <translation>kann nicht an %1 lauschen: %2 (Meldungen gehen nur ins Journal)</translation>
    </message>
    <message>
        <source>cannot read the notices</source>
        <translation>die Meldungen können nicht gelesen werden</translation>
    </message>
    <message>
        <source>must run as root</source>
        <translation>muss als root laufen</translation>
    </message>
    <message>
        <source>, no rules read yet (every program is asked)</source>
        <translation>, noch keine Regeln gelesen (jedes Programm wird erfragt)</translation>
    </message>
    <message>
        <source>, Block All on</source>
        <translation>, Alles blockieren an</translation>
    </message>
    <message numerus="yes">
        <source>%n programs attached</source>
        <translation>
            <numerusform>%n Programm angehängt</numerusform>
            <numerusform>%n Programme angehängt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hooked programs registered</source>
        <translation>
            <numerusform>%n Programm mit Hook angemeldet</numerusform>
            <numerusform>%n Programme mit Hook angemeldet</numerusform>
        </translation>
    </message>
    <message>
        <source>partly attached (a start or stop did not finish): start or stop it again</source>
        <translation>teilweise angehängt (ein Start oder Stopp wurde nicht beendet): erneut starten oder stoppen</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>läuft nicht</translation>
    </message>
    <message>
        <source>unpinned, but 1 of its programs is still held by another process</source>
        <translation>gelöst, aber 1 seiner Programme wird noch von einem anderen Prozess gehalten</translation>
    </message>
    <message>
        <source>1 program attached</source>
        <translation>1 Programm angehängt</translation>
    </message>
    <message>
        <source>1 hooked program registered</source>
        <translation>1 Programm mit Hook angemeldet</translation>
    </message>
    <message>
        <source>usage: zel-backstop start (--user UID [--rules|--notify|--deny] [--settings DIR] |
                           --services [--rules FILE] [--log DIR]) [--cgroup DIR] [--pin DIR] [--socket PATH]
                          [--detach]
       zel-backstop run (--user UID | --services | --pin DIR) [--settings DIR | --rules FILE] [--socket PATH]
                        [--log DIR]
       zel-backstop stop (--user UID | --services | --pin DIR)
       zel-backstop status [--user UID | --services | --pin DIR]
</source>
        <translation>Aufruf: zel-backstop start (--user UID [--rules|--notify|--deny] [--settings ORDNER] |
                            --services [--rules DATEI] [--log ORDNER]) [--cgroup ORDNER] [--pin ORDNER] [--socket PFAD]
                           [--detach]
        zel-backstop run (--user UID | --services | --pin ORDNER) [--settings ORDNER | --rules DATEI] [--socket PFAD]
                         [--log ORDNER]
        zel-backstop stop (--user UID | --services | --pin ORDNER)
        zel-backstop status [--user UID | --services | --pin ORDNER]
</translation>
    </message>
    <message>
        <source>the system services</source>
        <translation>die Systemdienste</translation>
    </message>
    <message>
        <source>this kernel cannot hold the backstop: %1</source>
        <translation>dieser Kernel kann den Backstop nicht aufnehmen: %1</translation>
    </message>
    <message>
        <source>%1 holds the backstop of %2: not started</source>
        <translation>%1 enthält den Backstop von %2: nicht gestartet</translation>
    </message>
    <message>
        <source>already attached; now %1 for %2</source>
        <translation>bereits angehängt; jetzt %1 für %2</translation>
    </message>
    <message>
        <source>%1 for %2 on %3, pinned in %4</source>
        <translation>%1 für %2 an %3, festgehalten in %4</translation>
    </message>
    <message>
        <source>stopped for %1; nothing of it is attached any more</source>
        <translation>für %1 gestoppt; nichts davon ist mehr angehängt</translation>
    </message>
    <message>
        <source>, the rules of 1 program and the general ones in force</source>
        <translation>, die Regeln eines Programms und die allgemeinen in Kraft</translation>
    </message>
    <message numerus="yes">
        <source>, the rules of %n programs and the general ones in force</source>
        <translation>
            <numerusform>, die Regeln von %n Programm und die allgemeinen in Kraft</numerusform>
            <numerusform>, die Regeln von %n Programmen und die allgemeinen in Kraft</numerusform>
        </translation>
    </message>
    <message>
        <source>running, %1 for %2, %3, %4%5</source>
        <translation>läuft, %1 für %2, %3, %4%5</translation>
    </message>
    <message>
        <source>not running for %1 (nothing answers on %2)</source>
        <translation>läuft nicht für %1 (an %2 antwortet nichts)</translation>
    </message>
    <message>
        <source>running, %1 for %2</source>
        <translation>läuft, %1 für %2</translation>
    </message>
    <message>
        <source>a rules file is for the system services&apos; backstop, not %1&apos;s</source>
        <translation>eine Regeldatei ist für den Backstop der Systemdienste, nicht für den von %1</translation>
    </message>
    <message>
        <source>cannot give %1 to the administrators: %2</source>
        <translation>%1 kann den Administratoren nicht übergeben werden: %2</translation>
    </message>
</context>
<context>
    <name>zel-log</name>
    <message>
        <source>usage: zel-log [--today | --since YYYY-MM-DD] [--program NAME] [--denied] [--follow] [--json]
       zel-log --connections [--json]
</source>
        <translation>Aufruf: zel-log [--today | --since JJJJ-MM-TT] [--program NAME] [--denied] [--follow] [--json]
        zel-log --connections [--json]
</translation>
    </message>
    <message>
        <source>Shows the firewall&apos;s traffic log. See zel-log(1).
</source>
        <translation>Zeigt das Verkehrsprotokoll der Firewall. Siehe zel-log(1).
</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no date (YYYY-MM-DD)</source>
        <translation>„%1“ ist kein Datum (JJJJ-MM-TT)</translation>
    </message>
    <message>
        <source>no log folder &quot;%1&quot; (the setting LogFilesPath)</source>
        <translation>kein Protokollordner „%1“ (die Einstellung LogFilesPath)</translation>
    </message>
    <message>
        <source>the kernel&apos;s list of sockets cannot be read: %1</source>
        <translation>die Liste der Sockets des Kernels kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>the kernel&apos;s list of sockets was not read whole: the first are shown</source>
        <translation>die Liste der Sockets des Kernels wurde nicht ganz gelesen: die ersten werden gezeigt</translation>
    </message>
</context>
<context>
    <name>zel-reg</name>
    <message>
        <source>usage: zel-reg query KEY [/v NAME]
       zel-reg set KEY /v NAME /d DATA
       zel-reg delete KEY /v NAME
KEY: HKLM\Software\KORVEL\QRB (&quot;/&quot; may stand for &quot;\&quot;)
</source>
        <translation>Aufruf: zel-reg query SCHLÜSSEL [/v NAME]
        zel-reg set SCHLÜSSEL /v NAME /d DATEN
        zel-reg delete SCHLÜSSEL /v NAME
SCHLÜSSEL: HKLM\Software\KORVEL\QRB („/“ darf für „\“ stehen)
</translation>
    </message>
    <message>
        <source>Reads and changes the firewall&apos;s settings. See zel-reg(1).
</source>
        <translation>Liest und ändert die Einstellungen der Firewall. Siehe zel-reg(1).
</translation>
    </message>
    <message>
        <source>only HKLM (HKEY_LOCAL_MACHINE) is kept: %1</source>
        <translation>nur HKLM (HKEY_LOCAL_MACHINE) wird geführt: %1</translation>
    </message>
    <message>
        <source>the value %1 does not exist under %2</source>
        <translation>den Wert %1 gibt es unter %2 nicht</translation>
    </message>
    <message>
        <source>not a valid value name</source>
        <translation>kein gültiger Wertname</translation>
    </message>
    <message>
        <source>cannot write %1 under %2: %3</source>
        <translation>%1 kann unter %2 nicht geschrieben werden: %3</translation>
    </message>
    <message>
        <source>cannot delete %1: %2</source>
        <translation>%1 kann nicht gelöscht werden: %2</translation>
    </message>
</context>
<context>
    <name>zel-rules</name>
    <message>
        <source>Lists and changes the firewall&apos;s rules. See zel-rules(1).
</source>
        <translation>Zeigt und ändert die Regeln der Firewall. Siehe zel-rules(1).
</translation>
    </message>
    <message>
        <source>the rules file is not set (the setting RulesFile; has zel-setup been run?)</source>
        <translation>die Regeldatei ist nicht eingestellt (die Einstellung RulesFile; wurde zel-setup ausgeführt?)</translation>
    </message>
    <message>
        <source>the default rules do not parse</source>
        <translation>die Standardregeln lassen sich nicht lesen</translation>
    </message>
    <message>
        <source>cannot read the rules file %1: %2</source>
        <translation>die Regeldatei %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>the rules file %1 does not parse: %2</source>
        <translation>die Regeldatei %1 lässt sich nicht lesen: %2</translation>
    </message>
    <message>
        <source>no program &quot;%1&quot; in the rules, nor an executable file of that name</source>
        <translation>kein Programm „%1“ in den Regeln und auch keine ausführbare Datei dieses Namens</translation>
    </message>
    <message>
        <source>no program &quot;%1&quot; in the rules (see zel-rules list)</source>
        <translation>kein Programm „%1“ in den Regeln (siehe zel-rules list)</translation>
    </message>
    <message>
        <source>the rules file %1 could not be written (%2); it is left as it was</source>
        <translation>die Regeldatei %1 konnte nicht geschrieben werden (%2); sie bleibt, wie sie war</translation>
    </message>
    <message>
        <source>the rules file keeps changing; nothing was changed</source>
        <translation>die Regeldatei ändert sich ständig; nichts wurde geändert</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keiner)</translation>
    </message>
    <message>
        <source>  description: %1
  path: %2
  service: %3
  incoming: %4
  outgoing: %5
</source>
        <translation>  Beschreibung: %1
  Pfad: %2
  Dienst: %3
  eingehend: %4
  ausgehend: %5
</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>no</source>
        <translation>nein</translation>
    </message>
    <message>
        <source>add needs a direction (--in or --out) and what to do (--allow, --block or --ask)</source>
        <translation>add braucht eine Richtung (--in oder --out) und was geschehen soll (--allow, --block oder --ask)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no address, range or prefix</source>
        <translation>„%1“ ist weder Adresse noch Bereich noch Präfix</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no host name or pattern (name, *.domain, *)</source>
        <translation>„%1“ ist kein Hostname und kein Muster (name, *.domain, *)</translation>
    </message>
    <message>
        <source>host names are for outgoing rules: the peers of incoming connections have none</source>
        <translation>Hostnamen gelten für ausgehende Regeln: Die Gegenstellen eingehender Verbindungen haben keinen</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no port (a number from 1 to 65535, 0 for every port)</source>
        <translation>„%1“ ist kein Port (eine Zahl von 1 bis 65535, 0 für jeden Port)</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>standard input</source>
        <translation>Standardeingabe</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no rule number (as zel-rules show numbers them)</source>
        <translation>„%1“ ist keine Regelnummer (wie zel-rules show sie zählt)</translation>
    </message>
    <message>
        <source>the system settings (ANY) cannot be removed</source>
        <translation>die Systemeinstellungen (ANY) können nicht entfernt werden</translation>
    </message>
    <message>
        <source>the host lists cannot be left out for the system settings (ANY): name the program that may reach listed hosts</source>
        <translation>die Host-Listen können nicht für die Systemeinstellungen (ANY) ausgesetzt werden: nennen Sie das Programm, das gelistete Hosts erreichen darf</translation>
    </message>
    <message>
        <source>  host lists: not applied (zel-rules lists obey undoes it)</source>
        <translation>  Host-Listen: nicht angewandt (zel-rules lists obey hebt das auf)</translation>
    </message>
    <message numerus="yes">
        <source>%1 has no rule %2 (it has %n)</source>
        <translation>
            <numerusform>%1 hat keine Regel %2 (es hat %n)</numerusform>
            <numerusform>%1 hat keine Regel %2 (es hat %n)</numerusform>
        </translation>
    </message>
    <message>
        <source>(ended)</source>
        <translation>(abgelaufen)</translation>
    </message>
    <message>
        <source>(longer than any answer may last: it allows nothing)</source>
        <translation>(länger, als eine Antwort dauern darf: sie lässt nichts zu)</translation>
    </message>
    <message>
        <source>(longer than any answer may last)</source>
        <translation>(länger, als eine Antwort dauern darf)</translation>
    </message>
    <message>
        <source>  answers for a time:</source>
        <translation>  befristete Antworten:</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no list name: %2</source>
        <translation>„%1“ ist kein Listenname: %2</translation>
    </message>
    <message>
        <source>%1: only http and https addresses are fetched</source>
        <translation>%1: nur http- und https-Adressen werden geladen</translation>
    </message>
    <message>
        <source>list &quot;%1&quot; was not added: %2</source>
        <translation>Liste „%1“ wurde nicht hinzugefügt: %2</translation>
    </message>
    <message>
        <source>list &quot;%1&quot; added: %2 entries</source>
        <translation>Liste „%1“ hinzugefügt: %2 Einträge</translation>
    </message>
    <message>
        <source>updated: %1</source>
        <translation>aktualisiert: %1</translation>
    </message>
    <message>
        <source>host lists are the user&apos;s: --services does not apply to them</source>
        <translation>Host-Listen gehören dem Benutzer: --services gilt für sie nicht</translation>
    </message>
    <message>
        <source>--parent needs the program that starts it: a name or a path</source>
        <translation>--parent braucht das Programm, das es startet: einen Namen oder einen Pfad</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no program that can start another</source>
        <translation>„%1“ ist kein Programm, das ein anderes starten kann</translation>
    </message>
    <message>
        <source>no program &quot;%1&quot; to limit to a parent</source>
        <translation>kein Programm „%1“, das auf einen Starter beschränkt werden kann</translation>
    </message>
    <message>
        <source>no entry of &quot;%1&quot; limited to &quot;%2&quot; in the rules</source>
        <translation>kein auf „%2“ beschränkter Eintrag von „%1“ in den Regeln</translation>
    </message>
    <message>
        <source>  only when started by: %1
</source>
        <translation>  nur wenn gestartet von: %1
</translation>
    </message>
    <message>
        <source>usage: zel-rules [--services [--rules FILE]] COMMAND ...
       zel-rules list
       zel-rules show PROGRAM [--parent NAME|PATH]
       zel-rules allow|block|ask PROGRAM [--in|--out] [--parent NAME|PATH]
       zel-rules add PROGRAM --in|--out --allow|--block|--ask [--port P[,P...]]
                 [--address A[,A...]] [--host NAME[,NAME...]] [--name TEXT]
                 [--parent NAME|PATH]
       zel-rules remove PROGRAM [N] [--parent NAME|PATH]
       zel-rules export
       zel-rules import [FILE]
       zel-rules lists [add NAME URL|FILE | remove NAME | update [NAME] | enable|disable NAME]
       zel-rules lists ignore|obey PROGRAM
       zel-rules mode [ask|quiet-allow|quiet-block|learn [--days N]]
       zel-rules review [--json]
       zel-rules review accept ITEM|--program PATH [--allow|--block] [--scope host|port|any]
       zel-rules review reject ITEM|--program PATH
       zel-rules profile [list | remove NAME | use NAME|--auto]
       zel-rules profile add NAME --network ID [--block-all on|off] [--mode WORD]
                 [--incoming ask|allow|block] [--outgoing ask|allow|block]
                 [--allow[-in|-out] PATH] [--block[-in|-out] PATH] ...
PROGRAM: a program&apos;s path or file name; ANY: the system settings.
lists: the host lists subscribed to; update without NAME: the lists due.
lists ignore: the lists are not applied to PROGRAM, its own rules decide; obey: they are.
mode: what the firewall does with what the rules would ask; review: what a
quiet or the learning mode decided without asking, ITEM as it lists them.
profile: what changes on a network; without a word, which is in force and why.
--services: the system services&apos; rules (/etc/korvel/Rules.xml, or FILE), root&apos;s to change.
</source>
        <translation>Aufruf: zel-rules [--services [--rules DATEI]] BEFEHL ...
        zel-rules list
        zel-rules show PROGRAMM [--parent NAME|PFAD]
        zel-rules allow|block|ask PROGRAMM [--in|--out] [--parent NAME|PFAD]
        zel-rules add PROGRAMM --in|--out --allow|--block|--ask [--port P[,P...]]
                  [--address A[,A...]] [--host NAME[,NAME...]] [--name TEXT]
                  [--parent NAME|PFAD]
        zel-rules remove PROGRAMM [N] [--parent NAME|PFAD]
        zel-rules export
        zel-rules import [DATEI]
        zel-rules lists [add NAME URL|DATEI | remove NAME | update [NAME] | enable|disable NAME]
        zel-rules lists ignore|obey PROGRAMM
        zel-rules mode [ask|quiet-allow|quiet-block|learn [--days N]]
        zel-rules review [--json]
        zel-rules review accept EINTRAG|--program PFAD [--allow|--block] [--scope host|port|any]
        zel-rules review reject EINTRAG|--program PFAD
        zel-rules profile [list | remove NAME | use NAME|--auto]
        zel-rules profile add NAME --network KENNUNG [--block-all on|off] [--mode WORT]
                  [--incoming ask|allow|block] [--outgoing ask|allow|block]
                  [--allow[-in|-out] PFAD] [--block[-in|-out] PFAD] ...
PROGRAMM: Pfad oder Dateiname eines Programms; ANY: die Systemeinstellungen.
lists: die abonnierten Host-Listen; update ohne NAME: die fälligen Listen.
lists ignore: die Listen gelten nicht für PROGRAMM, seine eigenen Regeln entscheiden; obey: sie gelten.
mode: was die Firewall mit dem tut, wonach die Regeln fragen würden; review: was ein
stiller oder der lernende Modus ohne Frage entschied, EINTRAG wie dort aufgeführt.
profile: was sich in einem Netz ändert; ohne Wort: welches gilt und warum.
--services: die Regeln der Systemdienste (/etc/korvel/Rules.xml oder DATEI), nur von root zu ändern.
</translation>
    </message>
    <message>
        <source>learn (over: the firewall asks; learning ended %1)</source>
        <translation>learn (vorbei: die Firewall fragt; das Lernen endete %1)</translation>
    </message>
    <message>
        <source>learn (until %1)</source>
        <translation>learn (bis %1)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no address or host name: no rule made of it</source>
        <translation>„%1“ ist weder Adresse noch Hostname: keine Regel daraus gemacht</translation>
    </message>
    <message>
        <source>the review list has nothing of %1</source>
        <translation>die Prüfliste enthält nichts von %1</translation>
    </message>
    <message>
        <source>the review list has no item %1 (zel-rules review lists them)</source>
        <translation>die Prüfliste hat keinen Eintrag %1 (zel-rules review listet sie auf)</translation>
    </message>
    <message>
        <source>the review list %1 could not be rewritten</source>
        <translation>die Prüfliste %1 konnte nicht neu geschrieben werden</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no scope (host, port or any)</source>
        <translation>„%1“ ist kein Bereich (host, port oder any)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no mode (ask, quiet-allow, quiet-block, learn)</source>
        <translation>„%1“ ist kein Modus (ask, quiet-allow, quiet-block, learn)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no number of days (1 to %2)</source>
        <translation>„%1“ ist keine Anzahl von Tagen (1 bis %2)</translation>
    </message>
    <message>
        <source>the mode could not be written to the settings</source>
        <translation>der Modus konnte nicht in die Einstellungen geschrieben werden</translation>
    </message>
    <message>
        <source>this network: %1</source>
        <translation>dieses Netz: %1</translation>
    </message>
    <message>
        <source>no profile is in force</source>
        <translation>kein Profil gilt</translation>
    </message>
    <message>
        <source>profile &quot;%1&quot; is in force: chosen by hand</source>
        <translation>Profil „%1“ gilt: von Hand gewählt</translation>
    </message>
    <message>
        <source>profile &quot;%1&quot; is in force: its network is this one</source>
        <translation>Profil „%1“ gilt: sein Netz ist dieses</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no profile name: %2</source>
        <translation>„%1“ ist kein Profilname: %2</translation>
    </message>
    <message>
        <source>%1 does not take &quot;%2&quot;</source>
        <translation>%1 nimmt „%2“ nicht</translation>
    </message>
    <message>
        <source>%1 is named twice</source>
        <translation>%1 ist zweimal genannt</translation>
    </message>
    <message>
        <source>a profile needs its network: --network ID (see zel-rules profile list)</source>
        <translation>ein Profil braucht sein Netz: --network KENNUNG (siehe zel-rules profile list)</translation>
    </message>
    <message>
        <source>a profile holds at most 256 programs</source>
        <translation>ein Profil hält höchstens 256 Programme</translation>
    </message>
    <message>
        <source>profile &quot;%1&quot; could not be stored</source>
        <translation>Profil „%1“ konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <source>the choice could not be stored</source>
        <translation>die Wahl konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <source>there is no profile &quot;%1&quot;</source>
        <translation>es gibt kein Profil „%1“</translation>
    </message>
    <message>
        <source>the profile could not be removed</source>
        <translation>das Profil konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>profiles are the user&apos;s: --services does not apply to them</source>
        <translation>Profile gehören dem Benutzer: --services gilt für sie nicht</translation>
    </message>
    <message>
        <source>must be run as root to change the system services&apos; rules</source>
        <translation>muss als root ausgeführt werden, um die Regeln der Systemdienste zu ändern</translation>
    </message>
</context>
<context>
    <name>zel-rules import</name>
    <message>
        <source>%1: an object is expected</source>
        <translation>%1: ein Objekt wird erwartet</translation>
    </message>
    <message>
        <source>%1: unknown field &quot;%2&quot;</source>
        <translation>%1: unbekanntes Feld „%2“</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; must be a text</source>
        <translation>%1: „%2“ muss ein Text sein</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; must be true or false</source>
        <translation>%1: „%2“ muss true oder false sein</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; must be a list</source>
        <translation>%1: „%2“ muss eine Liste sein</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; must hold texts</source>
        <translation>%1: „%2“ muss Texte enthalten</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is &quot;%3&quot;; it must be one of %4</source>
        <translation>%1: „%2“ ist „%3“; erlaubt ist eines von %4</translation>
    </message>
    <message>
        <source>%1: the port &quot;%2&quot; is no number from 0 (every port) to 65535</source>
        <translation>%1: der Port „%2“ ist keine Zahl von 0 (jeder Port) bis 65535</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is no address, range or prefix</source>
        <translation>%1: „%2“ ist weder Adresse noch Bereich noch Präfix</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is no host name or pattern</source>
        <translation>%1: „%2“ ist kein Hostname und kein Muster</translation>
    </message>
    <message>
        <source>%1, port %2</source>
        <translation>%1, Port %2</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; must be a whole number from 0 to %3</source>
        <translation>%1: „%2“ muss eine ganze Zahl von 0 bis %3 sein</translation>
    </message>
    <message>
        <source>%1: &quot;until&quot; is no time as ISO 8601 writes one (2026-07-03T14:05:09, local, or with Z or an offset as +02:00)</source>
        <translation>%1: „until“ ist keine Zeit, wie ISO 8601 sie schreibt (2026-07-03T14:05:09, Ortszeit, oder mit Z oder einem Versatz wie +02:00)</translation>
    </message>
    <message>
        <source>%1: an answer for a time needs its direction and permission</source>
        <translation>%1: eine befristete Antwort braucht Richtung und Erlaubnis</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is no address</source>
        <translation>%1: „%2“ ist keine Adresse</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is no host name as the engine writes one</source>
        <translation>%1: „%2“ ist kein Hostname, wie ihn die Regel-Engine schreibt</translation>
    </message>
    <message>
        <source>%1: an answer for a time is for an address or a host, not both</source>
        <translation>%1: eine befristete Antwort gilt einer Adresse oder einem Host, nicht beiden</translation>
    </message>
    <message>
        <source>%1, rule %2</source>
        <translation>%1, Regel %2</translation>
    </message>
    <message>
        <source>%1, answer for a time %2</source>
        <translation>%1, befristete Antwort %2</translation>
    </message>
    <message>
        <source>the document</source>
        <translation>das Dokument</translation>
    </message>
    <message>
        <source>application %1</source>
        <translation>Anwendung %1</translation>
    </message>
    <message>
        <source>no JSON document: %1</source>
        <translation>kein JSON-Dokument: %1</translation>
    </message>
    <message>
        <source>%1: &quot;enabled&quot; is missing (true: the rule is in force)</source>
        <translation>%1: „enabled“ fehlt (true: die Regel gilt)</translation>
    </message>
    <message>
        <source>%1: a rule in force needs its direction and permission</source>
        <translation>%1: eine geltende Regel braucht Richtung und Erlaubnis</translation>
    </message>
    <message>
        <source>%1, port %2: &quot;port&quot; is missing (0: every port)</source>
        <translation>%1, Port %2: „port“ fehlt (0: jeder Port)</translation>
    </message>
    <message>
        <source>%1: &quot;until&quot; is further away than the longest answer for a time (%2 days from now)</source>
        <translation>%1: „until“ liegt weiter entfernt als die längste befristete Antwort (%2 Tage ab jetzt)</translation>
    </message>
    <message>
        <source>%1: &quot;name&quot; is missing (a program&apos;s name, as zel-rules list shows it, or ANY)</source>
        <translation>%1: „name“ fehlt (der Name eines Programms, wie zel-rules list ihn zeigt, oder ANY)</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; names no program (a program&apos;s name is its file name in capitals, as zel-rules list shows it; ANY is the system settings)</source>
        <translation>%1: „%2“ benennt kein Programm (der Name eines Programms ist sein Dateiname in Großbuchstaben, wie zel-rules list ihn zeigt; ANY sind die Systemeinstellungen)</translation>
    </message>
    <message>
        <source>applications %1 and %2 are both &quot;%3&quot;: a program has one entry</source>
        <translation>die Anwendungen %1 und %2 sind beide „%3“: ein Programm hat einen Eintrag</translation>
    </message>
    <message>
        <source>%1: the host lists cannot be left out for the system settings (ANY)</source>
        <translation>%1: die Host-Listen können nicht für die Systemeinstellungen (ANY) ausgesetzt werden</translation>
    </message>
</context>
<context>
    <name>zel-run</name>
    <message>
        <source>usage: zel-run [--] PROGRAM [ARGS...]
Runs PROGRAM with its network connections decided by the firewall. See zel-run(1).
</source>
        <translation>Aufruf: zel-run [--] PROGRAMM [ARGUMENTE...]
Startet PROGRAMM; über seine Netzwerkverbindungen entscheidet die Firewall. Siehe zel-run(1).
</translation>
    </message>
    <message>
        <source>the hook library %1 cannot be read: %2</source>
        <translation>die Hook-Bibliothek %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>LD_PRELOAD is too long</source>
        <translation>LD_PRELOAD ist zu lang</translation>
    </message>
    <message>
        <source>cannot run %1: %2</source>
        <translation>%1 kann nicht gestartet werden: %2</translation>
    </message>
</context>
<context>
    <name>zel-session</name>
    <message>
        <source>%1 did not succeed</source>
        <translation>%1 ist nicht gelungen</translation>
    </message>
    <message>
        <source>cannot run %1: %2</source>
        <translation>%1 kann nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>usage: zel-session --generator | --preload | --run COMMAND [ARGS...] | --update-session [--manager-only]
</source>
        <translation>Aufruf: zel-session --generator | --preload | --run BEFEHL [ARGUMENTE...] | --update-session [--manager-only]
</translation>
    </message>
    <message>
        <source>Puts the firewall&apos;s hook in front of the programs of the session when the user chose
&quot;Decide every program I start&quot;. See zel-session(1).
</source>
        <translation>Stellt den Hook der Firewall vor die Programme der Sitzung, wenn der Benutzer
„Über jedes Programm entscheiden, das ich starte“ gewählt hat. Siehe zel-session(1).
</translation>
    </message>
</context>
<context>
    <name>zel-setup</name>
    <message>
        <source>cannot write the setting %1</source>
        <translation>die Einstellung %1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>  set %1 = %2
</source>
        <translation>  gesetzt: %1 = %2
</translation>
    </message>
    <message>
        <source>usage: zel-setup [--install-dir DIR] [--bin-dir DIR] [--quiet]
</source>
        <translation>Aufruf: zel-setup [--install-dir ORDNER] [--bin-dir ORDNER] [--quiet]
</translation>
    </message>
    <message>
        <source>Creates the settings, folders and default rules a user of the firewall needs;
what exists already is left alone. See zel-setup(1).
</source>
        <translation>Legt die Einstellungen, Ordner und Standardregeln an, die ein Benutzer der Firewall braucht;
was schon da ist, bleibt unberührt. Siehe zel-setup(1).
</translation>
    </message>
    <message>
        <source>Settings in %1
</source>
        <translation>Einstellungen in %1
</translation>
    </message>
    <message>
        <source>cannot write the autostart entry</source>
        <translation>der Autostart-Eintrag kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>cannot create the folder %1</source>
        <translation>der Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>  wrote the default rules to %1
</source>
        <translation>  Standardregeln geschrieben nach %1
</translation>
    </message>
    <message>
        <source>cannot write the rules file %1</source>
        <translation>die Regeldatei %1 kann nicht geschrieben werden</translation>
    </message>
</context>
</TS>
