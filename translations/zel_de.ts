<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AwayAnswers</name>
    <message>
        <source>%1 to %2 port %3</source>
        <translation>%1 an %2 Port %3</translation>
    </message>
    <message>
        <source>%1 from %2 to port %3</source>
        <translation>%1 von %2 an Port %3</translation>
    </message>
    <message>
        <source>Allowed</source>
        <translation>Zugelassen</translation>
    </message>
    <message>
        <source>Blocked</source>
        <translation>Blockiert</translation>
    </message>
</context>
<context>
    <name>BackstopAlerts</name>
    <message>
        <source>%1 is trying to create outgoing connection to %2 through port:%3 without the firewall in it. It was blocked until you decide; your answer is kept for this port.</source>
        <translation>%1 versucht ohne die Firewall, eine ausgehende Verbindung zu %2 über Port %3 aufzubauen. Sie bleibt blockiert, bis Sie entscheiden; Ihre Antwort gilt für diesen Port.</translation>
    </message>
    <message>
        <source>%1 is trying to create outgoing connection to %2 through port:%3 without the firewall in it. It was blocked until you decide; your answer is kept for this address and port.</source>
        <translation>%1 versucht ohne die Firewall, eine ausgehende Verbindung zu %2 über Port %3 aufzubauen. Sie bleibt blockiert, bis Sie entscheiden; Ihre Antwort gilt für diese Adresse und diesen Port.</translation>
    </message>
    <message>
        <source>Apply my decision to all %1 outgoing traffic</source>
        <translation>Meine Entscheidung auf den gesamten ausgehenden Verkehr von %1 anwenden</translation>
    </message>
    <message>
        <source>%1 is trying to accept incoming connection from %2 through port:%3 without the firewall in it. It was blocked until you decide; your answer is kept for this port.</source>
        <translation>%1 versucht ohne die Firewall, eine eingehende Verbindung von %2 über Port %3 anzunehmen. Sie bleibt blockiert, bis Sie entscheiden; Ihre Antwort gilt für diesen Port.</translation>
    </message>
    <message>
        <source>%1 is trying to accept incoming connection from %2 through port:%3 without the firewall in it. It was blocked until you decide; your answer is kept for this address and port.</source>
        <translation>%1 versucht ohne die Firewall, eine eingehende Verbindung von %2 über Port %3 anzunehmen. Sie bleibt blockiert, bis Sie entscheiden; Ihre Antwort gilt für diese Adresse und diesen Port.</translation>
    </message>
    <message>
        <source>Apply my decision to all %1 incoming traffic</source>
        <translation>Meine Entscheidung auf den gesamten eingehenden Verkehr von %1 anwenden</translation>
    </message>
</context>
<context>
    <name>BackstopNotice</name>
    <message>
        <source>Asked, not under the firewall: %1 to %2</source>
        <translation>Nachgefragt, nicht unter der Firewall: %1 an %2</translation>
    </message>
    <message>
        <source>A program was blocked until you decide</source>
        <translation>Ein Programm wurde bis zu Ihrer Entscheidung blockiert</translation>
    </message>
    <message>
        <source>%1 tried to connect to %2 without the firewall in it (a static or set-user-ID program, or one started without it). Your rules say to ask, and the kernel cannot wait for an answer: it was blocked. Allow or block it from now on in the alert.</source>
        <translation>%1 hat versucht, sich mit %2 zu verbinden, ohne dass die Firewall darin läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde). Ihre Regeln sagen „Fragen“, und der Kernel kann nicht auf eine Antwort warten: Die Verbindung wurde blockiert. Lassen Sie sie in der Warnung künftig zu oder blockieren Sie sie.</translation>
    </message>
    <message>
        <source>Blocked, not under the firewall: %1 to %2</source>
        <translation>Blockiert, nicht unter der Firewall: %1 an %2</translation>
    </message>
    <message>
        <source>A program was blocked</source>
        <translation>Ein Programm wurde blockiert</translation>
    </message>
    <message>
        <source>%1 tried to connect to %2 without the firewall in it (a static or set-user-ID program, or one started without it), and was blocked. Start it with &quot;zel-run %1&quot; to have your rules decide its connections.</source>
        <translation>%1 hat versucht, sich mit %2 zu verbinden, ohne dass die Firewall darin läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde), und wurde blockiert. Starten Sie es mit „zel-run %1“, damit Ihre Regeln über seine Verbindungen entscheiden.</translation>
    </message>
    <message>
        <source>Not under the firewall: %1 to %2</source>
        <translation>Nicht unter der Firewall: %1 an %2</translation>
    </message>
    <message>
        <source>A program connected without the firewall</source>
        <translation>Ein Programm hat sich ohne die Firewall verbunden</translation>
    </message>
    <message>
        <source>%1 connected to %2 without the firewall in it (a static or set-user-ID program, or one started without it): no rule decided it. Start it with &quot;zel-run %1&quot; to have your rules decide its connections.</source>
        <translation>%1 hat sich mit %2 verbunden, ohne dass die Firewall darin läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde): Keine Regel hat darüber entschieden. Starten Sie es mit „zel-run %1“, damit Ihre Regeln über seine Verbindungen entscheiden.</translation>
    </message>
    <message>
        <source>Not under the firewall: %2 to %1 on port %3</source>
        <translation>Nicht unter der Firewall: %2 an %1 auf Port %3</translation>
    </message>
    <message>
        <source>A program was connected to without the firewall</source>
        <translation>Mit einem Programm wurde ohne die Firewall eine Verbindung aufgebaut</translation>
    </message>
    <message>
        <source>%2 connected to %1 on its port %3 without the firewall in the program (a static or set-user-ID program, or one started without it): no rule decided it. Start it with &quot;zel-run %1&quot; to have your rules decide its connections.</source>
        <translation>%2 hat sich mit %1 auf dessen Port %3 verbunden, ohne dass die Firewall in dem Programm läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde): Keine Regel hat darüber entschieden. Starten Sie es mit „zel-run %1“, damit Ihre Regeln über seine Verbindungen entscheiden.</translation>
    </message>
    <message>
        <source>Blocked, not under the firewall: %2 to %1 on port %3</source>
        <translation>Blockiert, nicht unter der Firewall: %2 an %1 auf Port %3</translation>
    </message>
    <message>
        <source>A connection to a program was blocked</source>
        <translation>Eine Verbindung zu einem Programm wurde blockiert</translation>
    </message>
    <message>
        <source>%2 tried to connect to %1 on its port %3 without the firewall in the program (a static or set-user-ID program, or one started without it), and was blocked before the program read anything. Start it with &quot;zel-run %1&quot; to have your rules decide its connections.</source>
        <translation>%2 hat versucht, sich mit %1 auf dessen Port %3 zu verbinden, ohne dass die Firewall in dem Programm läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde), und wurde blockiert, bevor das Programm etwas gelesen hat. Starten Sie es mit „zel-run %1“, damit Ihre Regeln über seine Verbindungen entscheiden.</translation>
    </message>
    <message>
        <source>Asked, not under the firewall: %2 to %1 on port %3</source>
        <translation>Nachgefragt, nicht unter der Firewall: %2 an %1 auf Port %3</translation>
    </message>
    <message>
        <source>A connection to a program was blocked until you decide</source>
        <translation>Eine Verbindung zu einem Programm wurde bis zu Ihrer Entscheidung blockiert</translation>
    </message>
    <message>
        <source>%2 tried to connect to %1 on its port %3 without the firewall in the program (a static or set-user-ID program, or one started without it). Your rules say to ask, and the kernel cannot wait for an answer: it was blocked. Allow or block it from now on in the alert.</source>
        <translation>%2 hat versucht, sich mit %1 auf dessen Port %3 zu verbinden, ohne dass die Firewall in dem Programm läuft (ein statisches oder Set-User-ID-Programm oder eines, das ohne sie gestartet wurde). Ihre Regeln sagen „Fragen“, und der Kernel kann nicht auf eine Antwort warten: Die Verbindung wurde blockiert. Lassen Sie sie in der Warnung künftig zu oder blockieren Sie sie.</translation>
    </message>
</context>
<context>
    <name>FilterState</name>
    <message>
        <source>High</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Niedrig</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>Benutzerdefiniert</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>Not filtering: shut down</source>
        <translation>Filtert nicht: beendet</translation>
    </message>
    <message>
        <source>Block All: every connection is blocked</source>
        <translation>Alles blockieren: Jede Verbindung wird blockiert</translation>
    </message>
    <message>
        <source>Filtering at level %1</source>
        <translation>Filtert mit Sicherheitsstufe %1</translation>
    </message>
    <message>
        <source>Quiet mode: allowing</source>
        <translation>Stiller Modus: lässt zu</translation>
    </message>
    <message>
        <source>Quiet mode: blocking</source>
        <translation>Stiller Modus: blockiert</translation>
    </message>
    <message>
        <source>Learning until %1</source>
        <translation>Lernt bis %1</translation>
    </message>
</context>
<context>
    <name>KernelLayer</name>
    <message>
        <source>no cgroup v2 hierarchy is mounted</source>
        <translation>keine cgroup-v2-Hierarchie ist eingehängt</translation>
    </message>
    <message>
        <source>the kernel has no type information (BTF)</source>
        <translation>der Kernel hat keine Typinformationen (BTF)</translation>
    </message>
    <message>
        <source>The kernel backstop: looking whether it runs for you.</source>
        <translation>Der Kernel-Rückhalt: Es wird nachgesehen, ob er für Sie läuft.</translation>
    </message>
    <message>
        <source>The kernel backstop is not installed: programs the firewall cannot enter (statically linked, Go, set-user-ID, sandboxed) are not covered. ./run.sh installs it with the administrator&apos;s rights: see the README.</source>
        <translation>Der Kernel-Rückhalt ist nicht installiert: Programme, in die die Firewall nicht hinein kann (statisch gelinkt, Go, Set-User-ID, in einer Sandbox), sind nicht abgedeckt. ./run.sh installiert ihn mit Administratorrechten: siehe README.</translation>
    </message>
    <message>
        <source>The kernel backstop cannot run on this kernel (%1): programs the firewall cannot enter are not covered. The firewall still decides the programs it is in.</source>
        <translation>Der Kernel-Rückhalt kann auf diesem Kernel nicht laufen (%1): Programme, in die die Firewall nicht hinein kann, sind nicht abgedeckt. Über die Programme, in denen sie läuft, entscheidet die Firewall weiterhin.</translation>
    </message>
    <message>
        <source>The kernel backstop is not attached for you: programs the firewall cannot enter (statically linked, Go, set-user-ID, sandboxed) are not covered.</source>
        <translation>Der Kernel-Rückhalt ist für Sie nicht angebunden: Programme, in die die Firewall nicht hinein kann (statisch gelinkt, Go, Set-User-ID, in einer Sandbox), sind nicht abgedeckt.</translation>
    </message>
    <message>
        <source>The kernel backstop is attached for you: it lets the programs the firewall cannot enter connect, and tells you of each.</source>
        <translation>Der Kernel-Rückhalt ist für Sie angebunden: Er lässt die Programme, in die die Firewall nicht hinein kann, Verbindungen aufbauen und meldet Ihnen jedes.</translation>
    </message>
    <message>
        <source>The kernel backstop is attached for you: it blocks the programs the firewall cannot enter.</source>
        <translation>Der Kernel-Rückhalt ist für Sie angebunden: Er blockiert die Programme, in die die Firewall nicht hinein kann.</translation>
    </message>
    <message>
        <source>The kernel backstop is attached for you: your rules decide the programs the firewall cannot enter.</source>
        <translation>Der Kernel-Rückhalt ist für Sie angebunden: Ihre Regeln entscheiden über die Programme, in die die Firewall nicht hinein kann.</translation>
    </message>
    <message>
        <source>Kernel backstop</source>
        <translation>Kernel-Rückhalt</translation>
    </message>
    <message>
        <source>The kernel backstop stopped: programs the firewall cannot enter may no longer be decided by your rules. See the Protection page.</source>
        <translation>Der Kernel-Rückhalt wurde beendet: Über Programme, in die die Firewall nicht hinein kann, entscheiden Ihre Regeln womöglich nicht mehr. Siehe die Seite „Schutz“.</translation>
    </message>
    <message>
        <source>The kernel backstop could not start: programs the firewall cannot enter are not covered. See the Protection page.</source>
        <translation>Der Kernel-Rückhalt konnte nicht starten: Programme, in die die Firewall nicht hinein kann, sind nicht abgedeckt. Siehe die Seite „Schutz“.</translation>
    </message>
    <message>
        <source>The kernel backstop runs again: your rules decide the programs the firewall cannot enter.</source>
        <translation>Der Kernel-Rückhalt läuft wieder: Ihre Regeln entscheiden über die Programme, in die die Firewall nicht hinein kann.</translation>
    </message>
</context>
<context>
    <name>LogReader</name>
    <message>
        <source>Deny</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>Permit</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message>
        <source>Rule</source>
        <translation>Regel</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Block All</source>
        <translation>Alles blockieren</translation>
    </message>
    <message>
        <source>Reply to an allowed peer</source>
        <translation>Antwort an eine zugelassene Gegenstelle</translation>
    </message>
    <message>
        <source>Your answer</source>
        <translation>Ihre Antwort</translation>
    </message>
    <message>
        <source>Earlier answer</source>
        <translation>Frühere Antwort</translation>
    </message>
    <message>
        <source>Time-out</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>Away answer</source>
        <translation>Antwort bei Abwesenheit</translation>
    </message>
    <message>
        <source>No alert shown</source>
        <translation>Keine Warnung angezeigt</translation>
    </message>
    <message>
        <source>Service, never asked</source>
        <translation>Dienst, wird nie gefragt</translation>
    </message>
    <message>
        <source>Runtime folder not safe</source>
        <translation>Laufzeitordner nicht sicher</translation>
    </message>
    <message>
        <source>Host list</source>
        <translation>Hostliste</translation>
    </message>
    <message>
        <source>Quiet mode</source>
        <translation>Stiller Modus</translation>
    </message>
    <message>
        <source>Learning mode</source>
        <translation>Lernmodus</translation>
    </message>
    <message>
        <source>Kernel backstop</source>
        <translation>Kernel-Rückhalt</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>Application last time accessed : %1</source>
        <translation>Letzter Netzwerkzugriff der Anwendung: %1</translation>
    </message>
    <message>
        <source>Remote ports used : %1</source>
        <translation>Verwendete entfernte Ports: %1</translation>
    </message>
    <message>
        <source>Local ports used : %1</source>
        <translation>Verwendete lokale Ports: %1</translation>
    </message>
    <message>
        <source>Remote hosts used : %1</source>
        <translation>Verwendete entfernte Hosts: %1</translation>
    </message>
    <message>
        <source>Note : Application is a system service and will not allow ask as a permission.</source>
        <translation>Hinweis: Die Anwendung ist ein Systemdienst und lässt „Fragen“ als Berechtigung nicht zu.</translation>
    </message>
    <message>
        <source>No statistics are available at the moment</source>
        <translation>Zurzeit sind keine Statistiken verfügbar</translation>
    </message>
</context>
<context>
    <name>PlainFileIcons</name>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
</context>
<context>
    <name>RuleDescription</name>
    <message>
        <source>no port (&quot;%1&quot;)</source>
        <translation>kein Port („%1“)</translation>
    </message>
    <message>
        <source>all ports</source>
        <translation>alle Ports</translation>
    </message>
    <message>
        <source>(no address)</source>
        <translation>(keine Adresse)</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>Block incoming for : %1</source>
        <translation>Eingehend blockieren für: %1</translation>
    </message>
    <message>
        <source>Block outgoing for : %1</source>
        <translation>Ausgehend blockieren für: %1</translation>
    </message>
    <message>
        <source>Allow incoming for : %1</source>
        <translation>Eingehend zulassen für: %1</translation>
    </message>
    <message>
        <source>Allow outgoing for : %1</source>
        <translation>Ausgehend zulassen für: %1</translation>
    </message>
    <message>
        <source>Ask incoming for : %1</source>
        <translation>Eingehend fragen für: %1</translation>
    </message>
    <message>
        <source>Ask outgoing for : %1</source>
        <translation>Ausgehend fragen für: %1</translation>
    </message>
    <message>
        <source>nothing (no port)</source>
        <translation>nichts (kein Port)</translation>
    </message>
    <message>
        <source>incoming</source>
        <translation>eingehend</translation>
    </message>
    <message>
        <source>outgoing</source>
        <translation>ausgehend</translation>
    </message>
    <message>
        <source>%1 %2 for : %3</source>
        <translation>%1 %2 für: %3</translation>
    </message>
</context>
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
    <name>SecurityLevels</name>
    <message>
        <source>Status : High security </source>
        <translation>Status: Hohe Sicherheit </translation>
    </message>
    <message>
        <source>This status will block all the incoming network and will ask for permission for any outgoing application.</source>
        <translation>Diese Stufe blockiert jeden eingehenden Netzwerkverkehr und fragt bei jeder ausgehenden Anwendung um Erlaubnis.</translation>
    </message>
    <message>
        <source>Status : Normal security </source>
        <translation>Status: Normale Sicherheit </translation>
    </message>
    <message>
        <source>This status will ask user permission for all the incoming network and will allow any outgoing application.</source>
        <translation>Diese Stufe fragt bei jedem eingehenden Netzwerkverkehr um Ihre Erlaubnis und lässt jede ausgehende Anwendung zu.</translation>
    </message>
    <message>
        <source>Status : Low security </source>
        <translation>Status: Niedrige Sicherheit </translation>
    </message>
    <message>
        <source>This status will allow any outgoing and incoming network.</source>
        <translation>Diese Stufe lässt jeden ausgehenden und eingehenden Netzwerkverkehr zu.</translation>
    </message>
    <message>
        <source>HIGH</source>
        <translation>HOCH</translation>
    </message>
    <message>
        <source>NORMAL</source>
        <translation>NORMAL</translation>
    </message>
    <message>
        <source>LOW</source>
        <translation>NIEDRIG</translation>
    </message>
    <message>
        <source>Status : Custom security </source>
        <translation>Status: Benutzerdefinierte Sicherheit </translation>
    </message>
    <message>
        <source>Current security : %1 for the incoming data and %2 for the outgoing data.</source>
        <translation>Aktuelle Sicherheit: %1 für eingehende Daten und %2 für ausgehende Daten.</translation>
    </message>
    <message>
        <source>CUSTOM</source>
        <translation>BENUTZERDEFINIERT</translation>
    </message>
    <message>
        <source>Status : BLOCK ALL NETWORK </source>
        <translation>Status: GESAMTES NETZWERK BLOCKIERT </translation>
    </message>
    <message>
        <source>Current security will prevent any incoming or outgoing network traffic.</source>
        <translation>Die aktuelle Sicherheit verhindert jeden eingehenden und ausgehenden Netzwerkverkehr.</translation>
    </message>
    <message>
        <source>BLOCK ALL</source>
        <translation>ALLES BLOCKIEREN</translation>
    </message>
</context>
<context>
    <name>SessionCoverage</name>
    <message>
        <source>Programs you start are not decided: the firewall&apos;s hook %1 is missing. Install the firewall again.</source>
        <translation>Programme, die Sie starten, werden nicht entschieden: Der Hook der Firewall %1 fehlt. Installieren Sie die Firewall erneut.</translation>
    </message>
    <message>
        <source>Programs you start are not decided: the firewall&apos;s hook %1 lies in a folder whose name holds a blank, a colon or a sign the loader reads. Install the firewall again.</source>
        <translation>Programme, die Sie starten, werden nicht entschieden: Der Hook der Firewall %1 liegt in einem Ordner, dessen Name ein Leerzeichen, einen Doppelpunkt oder ein Zeichen enthält, das der Lader auswertet. Installieren Sie die Firewall erneut.</translation>
    </message>
    <message>
        <source>Programs you start are not decided: the firewall&apos;s hook %1 could be changed by other users. Install the firewall again.</source>
        <translation>Programme, die Sie starten, werden nicht entschieden: Der Hook der Firewall %1 könnte von anderen Benutzern verändert werden. Installieren Sie die Firewall erneut.</translation>
    </message>
    <message>
        <source>Only programs you start with zel-run are decided by your rules. To have every program you start decided, tick &quot;Decide every program I start&quot; in Settings.</source>
        <translation>Nur über Programme, die Sie mit zel-run starten, entscheiden Ihre Regeln. Damit über jedes Programm entschieden wird, das Sie starten, aktivieren Sie „Jedes von mir gestartete Programm entscheiden“ in den Einstellungen.</translation>
    </message>
    <message>
        <source>Programs you start from now on are decided by your rules; programs already running are not: restart them or log in again</source>
        <translation>Über Programme, die Sie ab jetzt starten, entscheiden Ihre Regeln; über bereits laufende Programme nicht: Starten Sie diese neu oder melden Sie sich neu an</translation>
    </message>
    <message>
        <source>Programs you start are decided by your rules.</source>
        <translation>Über Programme, die Sie starten, entscheiden Ihre Regeln.</translation>
    </message>
    <message>
        <source>Firewall</source>
        <translation>Firewall</translation>
    </message>
    <message>
        <source>Kernel backstop</source>
        <translation>Kernel-Rückhalt</translation>
    </message>
    <message>
        <source>Not covered</source>
        <translation>Nicht abgedeckt</translation>
    </message>
    <message>
        <source>Its connections are decided by your rules.</source>
        <translation>Über seine Verbindungen entscheiden Ihre Regeln.</translation>
    </message>
    <message>
        <source>Under the firewall: its next connection is decided by your rules.</source>
        <translation>Unter der Firewall: Über seine nächste Verbindung entscheiden Ihre Regeln.</translation>
    </message>
    <message>
        <source>Started before protection was on (or by a program that was), so the firewall is not in it.</source>
        <translation>Gestartet, bevor der Schutz eingeschaltet war (oder von einem solchen Programm), daher läuft die Firewall nicht darin.</translation>
    </message>
    <message>
        <source>The firewall was named for it but could not be loaded when it started.</source>
        <translation>Die Firewall war für das Programm vorgesehen, konnte bei seinem Start aber nicht geladen werden.</translation>
    </message>
    <message>
        <source>Statically linked: the firewall cannot enter it.</source>
        <translation>Statisch gelinkt: Die Firewall kann nicht hinein.</translation>
    </message>
    <message>
        <source>Makes its own system calls (a Go program): the firewall does not see its connections.</source>
        <translation>Macht eigene Systemaufrufe (ein Go-Programm): Die Firewall sieht seine Verbindungen nicht.</translation>
    </message>
    <message>
        <source>A program of another word size (32-bit): the firewall&apos;s hook is built for 64-bit programs.</source>
        <translation>Ein Programm anderer Wortbreite (32 Bit): Der Hook der Firewall ist für 64-Bit-Programme gebaut.</translation>
    </message>
    <message>
        <source>Set-user-ID or with file capabilities: the system keeps the firewall out of it.</source>
        <translation>Set-User-ID oder mit Datei-Capabilities: Das System hält die Firewall heraus.</translation>
    </message>
    <message>
        <source>A sandboxed bundle (Flatpak or Snap): it starts with a cleared environment, without the firewall.</source>
        <translation>Ein Paket in einer Sandbox (Flatpak oder Snap): Es startet mit geleerter Umgebung, ohne die Firewall.</translation>
    </message>
    <message>
        <source>Another user&apos;s program: the firewall decides only your own programs.</source>
        <translation>Programm eines anderen Benutzers: Die Firewall entscheidet nur über Ihre eigenen Programme.</translation>
    </message>
    <message>
        <source>Another user&apos;s program (it runs as %1): the firewall decides only your own programs.</source>
        <translation>Programm eines anderen Benutzers (es läuft als %1): Die Firewall entscheidet nur über Ihre eigenen Programme.</translation>
    </message>
    <message>
        <source>Nothing to do.</source>
        <translation>Nichts zu tun.</translation>
    </message>
    <message>
        <source>Restart it under the firewall, or log in again.</source>
        <translation>Starten Sie es unter der Firewall neu oder melden Sie sich neu an.</translation>
    </message>
    <message>
        <source>Start it as yourself to have it decided by your rules.</source>
        <translation>Starten Sie es als Sie selbst, damit Ihre Regeln darüber entscheiden.</translation>
    </message>
    <message>
        <source>The kernel backstop decides its connections.</source>
        <translation>Der Kernel-Rückhalt entscheidet über seine Verbindungen.</translation>
    </message>
    <message>
        <source>Install the kernel backstop (zel-backstop, as root) to cover it; see the README.</source>
        <translation>Installieren Sie den Kernel-Rückhalt (zel-backstop, als root), um es abzudecken; siehe README.</translation>
    </message>
    <message>
        <source>Protection: no program of yours has a network connection.</source>
        <translation>Schutz: Keines Ihrer Programme hat eine Netzwerkverbindung.</translation>
    </message>
    <message>
        <source>1 program decided by your rules</source>
        <translation>1 Programm von Ihren Regeln entschieden</translation>
    </message>
    <message numerus="yes">
        <source>%n programs decided by your rules</source>
        <translation>
            <numerusform>%n Programm von Ihren Regeln entschieden</numerusform>
            <numerusform>%n Programme von Ihren Regeln entschieden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n by the kernel backstop</source>
        <translation>
            <numerusform>%n durch den Kernel-Rückhalt</numerusform>
            <numerusform>%n durch den Kernel-Rückhalt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n not covered</source>
        <translation>
            <numerusform>%n nicht abgedeckt</numerusform>
            <numerusform>%n nicht abgedeckt</numerusform>
        </translation>
    </message>
    <message>
        <source>Protection: %1, %2, %3.</source>
        <translation>Schutz: %1, %2, %3.</translation>
    </message>
    <message>
        <source>Protection: %1, %2.</source>
        <translation>Schutz: %1, %2.</translation>
    </message>
    <message>
        <source>Protection: %1.</source>
        <translation>Schutz: %1.</translation>
    </message>
    <message>
        <source>Your programs&apos; connections are refused while the firewall is on: it cannot use its runtime folder. In detail: %1</source>
        <translation>Die Verbindungen Ihrer Programme werden abgewiesen, solange die Firewall an ist: Sie kann ihren Laufzeitordner nicht benutzen. Im Einzelnen: %1</translation>
    </message>
    <message>
        <source>This session has no XDG_RUNTIME_DIR, so the firewall keeps its live files in %1, a folder of yours that only you can open (never in /tmp, where another user could make the folder first).</source>
        <translation>Diese Sitzung hat kein XDG_RUNTIME_DIR, daher legt die Firewall ihre laufenden Dateien in %1 ab, einem Ordner, den nur Sie öffnen können (nie in /tmp, wo ein anderer Benutzer den Ordner zuerst anlegen könnte).</translation>
    </message>
</context>
<context>
    <name>SystemServices</name>
    <message>
        <source>it is not a rules file that can be read</source>
        <translation>sie ist keine Regeldatei, die gelesen werden kann</translation>
    </message>
    <message>
        <source>the service&apos;s program file is not known</source>
        <translation>die Programmdatei des Dienstes ist nicht bekannt</translation>
    </message>
</context>
<context>
    <name>TimedAnswers</name>
    <message>
        <source>Allow outgoing</source>
        <translation>Ausgehend zulassen</translation>
    </message>
    <message>
        <source>Block outgoing</source>
        <translation>Ausgehend blockieren</translation>
    </message>
    <message>
        <source>Allow incoming</source>
        <translation>Eingehend zulassen</translation>
    </message>
    <message>
        <source>Block incoming</source>
        <translation>Eingehend blockieren</translation>
    </message>
    <message>
        <source>%1 to %2, port %3</source>
        <translation>%1 an %2, Port %3</translation>
    </message>
    <message>
        <source>%1 from %2, port %3</source>
        <translation>%1 von %2, Port %3</translation>
    </message>
    <message>
        <source>%1 to %2, any port</source>
        <translation>%1 an %2, jeder Port</translation>
    </message>
    <message>
        <source>%1 from %2, any port</source>
        <translation>%1 von %2, jeder Port</translation>
    </message>
    <message>
        <source>%1 on port %2, any host</source>
        <translation>%1 auf Port %2, jeder Host</translation>
    </message>
    <message>
        <source>%1 on port %2, any peer</source>
        <translation>%1 auf Port %2, jede Gegenstelle</translation>
    </message>
    <message>
        <source>%1, any connection</source>
        <translation>%1, jede Verbindung</translation>
    </message>
    <message>
        <source>ended</source>
        <translation>abgelaufen</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 (longer than any answer may last: it allows nothing)</source>
        <translation>%1 (länger, als eine Antwort dauern darf: sie lässt nichts zu)</translation>
    </message>
    <message>
        <source>%1 (longer than any answer may last)</source>
        <translation>%1 (länger, als eine Antwort dauern darf)</translation>
    </message>
</context>
<context>
    <name>TreeImages</name>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
</context>
<context>
    <name>panel</name>
    <message>
        <source>Connections made until it started again were neither decided by your rules nor logged.</source>
        <translation>Verbindungen bis zum nächsten Start wurden weder nach Ihren Regeln entschieden noch protokolliert.</translation>
    </message>
    <message>
        <source>The firewall was shut down before this start.</source>
        <translation>Die Firewall war vor diesem Start beendet.</translation>
    </message>
    <message>
        <source>The firewall was shut down at %1.</source>
        <translation>Die Firewall wurde am %1 beendet.</translation>
    </message>
</context>
<context>
    <name>panel::AddNewMenu</name>
    <message>
        <source>Add application</source>
        <translation>Anwendung hinzufügen</translation>
    </message>
    <message>
        <source>Add new</source>
        <translation>Neu hinzufügen</translation>
    </message>
    <message>
        <source>From the selected log row</source>
        <translation>Aus der gewählten Protokollzeile</translation>
    </message>
</context>
<context>
    <name>panel::AdvancedForm</name>
    <message>
        <source>  Advanced application permission</source>
        <translation>  Erweiterte Anwendungsberechtigung</translation>
    </message>
    <message>
        <source>Use &amp;system rules</source>
        <translation>&amp;Systemregeln verwenden</translation>
    </message>
    <message>
        <source>Move the rule up</source>
        <translation>Regel nach oben verschieben</translation>
    </message>
    <message>
        <source>Move the rule down</source>
        <translation>Regel nach unten verschieben</translation>
    </message>
    <message>
        <source>&amp;Add rule</source>
        <translation>Regel &amp;hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Edit rule</source>
        <translation>Regel &amp;bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Remove rule</source>
        <translation>Regel en&amp;tfernen</translation>
    </message>
    <message>
        <source>  Advanced system settings permission</source>
        <translation>  Erweiterte Berechtigung der Systemeinstellungen</translation>
    </message>
    <message>
        <source>  Advanced system permission</source>
        <translation>  Erweiterte Systemberechtigung</translation>
    </message>
    <message>
        <source>Apply &amp;custom settings</source>
        <translation>Eigene Einstellungen an&amp;wenden</translation>
    </message>
    <message>
        <source>System settings</source>
        <translation>Systemeinstellungen</translation>
    </message>
    <message>
        <source>Apply &amp;system rules</source>
        <translation>&amp;Systemregeln anwenden</translation>
    </message>
    <message>
        <source>Please select a rule</source>
        <translation>Bitte wählen Sie eine Regel aus</translation>
    </message>
    <message>
        <source>  Default application permission  </source>
        <translation>  Standardberechtigung der Anwendung  </translation>
    </message>
</context>
<context>
    <name>panel::ApplicationPane</name>
    <message>
        <source>  Application settings  </source>
        <translation>  Anwendungseinstellungen  </translation>
    </message>
    <message>
        <source>Apply &amp;system rules</source>
        <translation>System&amp;regeln anwenden</translation>
    </message>
    <message>
        <source>Ask again when the program&apos;s &amp;file changes</source>
        <translation>Erneut fragen, wenn sich die Programm&amp;datei ändert</translation>
    </message>
    <message>
        <source>Compares the file&apos;s SHA-256 digest with the one taken now</source>
        <translation>Vergleicht die SHA-256-Prüfsumme der Datei mit der jetzt ermittelten</translation>
    </message>
    <message>
        <source>I&amp;gnore host lists</source>
        <translation>Hostlisten i&amp;gnorieren</translation>
    </message>
    <message>
        <source>The host lists do not refuse this program&apos;s connections; its own rules and the system settings decide them</source>
        <translation>Die Hostlisten verweigern die Verbindungen dieses Programms nicht; seine eigenen Regeln und die Systemeinstellungen entscheiden über sie</translation>
    </message>
    <message>
        <source>A&amp;dvanced...</source>
        <translation>Er&amp;weitert...</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Show ser&amp;vices</source>
        <translation>Dienste an&amp;zeigen</translation>
    </message>
    <message>
        <source>  Application information</source>
        <translation>  Anwendungsinformationen</translation>
    </message>
    <message>
        <source>The program&apos;s file cannot be read: its contents cannot be checked.</source>
        <translation>Die Datei des Programms kann nicht gelesen werden: Ihr Inhalt kann nicht geprüft werden.</translation>
    </message>
    <message>
        <source>  Default application permission  </source>
        <translation>  Standardberechtigung  </translation>
    </message>
    <message>
        <source>Every program named %1</source>
        <translation>Jedes Programm namens %1</translation>
    </message>
    <message>
        <source>There are additional rules at the advanced mode.</source>
        <translation>Im erweiterten Modus gibt es weitere Regeln.</translation>
    </message>
    <message>
        <source>Block all is now active.</source>
        <translation>„Alles blockieren“ ist jetzt aktiv.</translation>
    </message>
</context>
<context>
    <name>panel::ApplicationWizard</name>
    <message>
        <source>Add application</source>
        <translation>Anwendung hinzufügen</translation>
    </message>
    <message>
        <source>  Current Running Application List  </source>
        <translation>  Derzeit laufende Anwendungen  </translation>
    </message>
    <message>
        <source>Process</source>
        <translation>Prozess</translation>
    </message>
    <message>
        <source>Show &amp;system services</source>
        <translation>&amp;Systemdienste anzeigen</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>&amp;Durchsuchen …</translation>
    </message>
    <message>
        <source>Only when started &amp;by:</source>
        <translation>Nur wenn gestartet &amp;von:</translation>
    </message>
    <message>
        <source>Selected &amp;Application :</source>
        <translation>Ausgewählte A&amp;nwendung:</translation>
    </message>
    <message>
        <source>Please select an application</source>
        <translation>Bitte wählen Sie eine Anwendung aus</translation>
    </message>
    <message>
        <source>Please choose application</source>
        <translation>Bitte wählen Sie eine Anwendung</translation>
    </message>
    <message>
        <source>This application already exists in the firewall rules</source>
        <translation>Diese Anwendung ist bereits in den Firewall-Regeln enthalten</translation>
    </message>
    <message>
        <source>Select an application</source>
        <translation>Anwendung auswählen</translation>
    </message>
    <message>
        <source>Application files (*)</source>
        <translation>Anwendungsdateien (*)</translation>
    </message>
</context>
<context>
    <name>panel::AwayDecisionsWindow</name>
    <message>
        <source>  Decided while you were away</source>
        <translation>  Während Ihrer Abwesenheit entschieden</translation>
    </message>
    <message>
        <source>When</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Decided</source>
        <translation>Entscheidung</translation>
    </message>
    <message>
        <source>Nothing was decided while you were away.</source>
        <translation>Während Ihrer Abwesenheit wurde nichts entschieden.</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Make a rule that allows this, as the alert&apos;s Allow would have</source>
        <translation>Eine Regel erstellen, die dies zulässt, wie es „Zulassen“ in der Warnung getan hätte</translation>
    </message>
    <message>
        <source>Nobody was at the screen when these programs asked, and your setting answered. Allow makes a rule, as answering the alert would have.</source>
        <translation>Niemand war am Bildschirm, als diese Programme fragten, und Ihre Einstellung hat geantwortet. „Zulassen“ erstellt eine Regel, wie es eine Antwort in der Warnung getan hätte.</translation>
    </message>
    <message>
        <source>C&amp;lear list</source>
        <translation>Liste &amp;leeren</translation>
    </message>
</context>
<context>
    <name>panel::AwayNotice</name>
    <message>
        <source>1 connection was decided while you were away: &amp;review</source>
        <translation>1 Verbindung wurde in Ihrer Abwesenheit entschieden: &amp;prüfen</translation>
    </message>
    <message numerus="yes">
        <source>%n connections were decided while you were away: &amp;review</source>
        <translation>
            <numerusform>%n Verbindung wurde in Ihrer Abwesenheit entschieden: &amp;prüfen</numerusform>
            <numerusform>%n Verbindungen wurden in Ihrer Abwesenheit entschieden: &amp;prüfen</numerusform>
        </translation>
    </message>
    <message>
        <source>Decided while you were away</source>
        <translation>In Ihrer Abwesenheit entschieden</translation>
    </message>
    <message>
        <source>Programs asked while nobody was at the screen, and your setting answered. Open the control panel to review.</source>
        <translation>Programme haben gefragt, während niemand am Bildschirm war, und Ihre Einstellung hat geantwortet. Öffnen Sie die Steuerzentrale, um das zu prüfen.</translation>
    </message>
</context>
<context>
    <name>panel::BlockAllBanner</name>
    <message>
        <source>Block All is on: every connection of every program is blocked.</source>
        <translation>„Alles blockieren“ ist an: Jede Verbindung jedes Programms wird blockiert.</translation>
    </message>
    <message>
        <source>&amp;Turn off Block All</source>
        <translation>„Alles blockieren“ a&amp;usschalten</translation>
    </message>
</context>
<context>
    <name>panel::DefaultsGroup</name>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>&amp;Incoming network permission :</source>
        <translation>&amp;Eingehend:</translation>
    </message>
    <message>
        <source>&amp;Outgoing network permission :</source>
        <translation>&amp;Ausgehend:</translation>
    </message>
</context>
<context>
    <name>panel::FirstRunWindow</name>
    <message>
        <source>Welcome to Korvel Firewall</source>
        <translation>Willkommen bei Korvel Firewall</translation>
    </message>
    <message>
        <source>Korvel Firewall decides, program by program, whether a connection may be made or accepted, and asks you in an alert where your rules say so. It writes every connection it decides into a log, one file a day.</source>
        <translation>Korvel Firewall entscheidet Programm für Programm, ob eine Verbindung aufgebaut oder angenommen werden darf, und fragt Sie in einer Meldung, wo Ihre Regeln es verlangen. Jede Verbindung, über die sie entscheidet, schreibt sie in ein Protokoll, eine Datei pro Tag.</translation>
    </message>
    <message>
        <source>How do you want to live with it?</source>
        <translation>Wie möchten Sie mit ihr arbeiten?</translation>
    </message>
    <message>
        <source>&amp;Ask me about every new program</source>
        <translation>Bei jedem neuen Programm &amp;fragen</translation>
    </message>
    <message>
        <source>A&amp;llow outgoing connections, ask about incoming</source>
        <translation>Ausgehende Verbindungen &amp;erlauben, bei eingehenden fragen</translation>
    </message>
    <message>
        <source>You can change this later under System settings.</source>
        <translation>Sie können das später unter Systemeinstellungen ändern.</translation>
    </message>
    <message>
        <source>The rules file cannot be read now: choose under System settings once it can.</source>
        <translation>Die Regeldatei kann gerade nicht gelesen werden: Wählen Sie unter Systemeinstellungen, sobald sie lesbar ist.</translation>
    </message>
    <message>
        <source>Which programs are decided</source>
        <translation>Welche Programme entschieden werden</translation>
    </message>
    <message>
        <source>Now:</source>
        <translation>Jetzt:</translation>
    </message>
    <message>
        <source>After your next login:</source>
        <translation>Nach Ihrer nächsten Anmeldung:</translation>
    </message>
    <message>
        <source>Open a &amp;terminal under the firewall</source>
        <translation>Ein &amp;Terminal unter der Firewall öffnen</translation>
    </message>
    <message>
        <source>&amp;Done</source>
        <translation>Fert&amp;ig</translation>
    </message>
    <message>
        <source>&amp;Skip</source>
        <translation>Ü&amp;berspringen</translation>
    </message>
    <message>
        <source>Programs you start in it are decided by your rules.</source>
        <translation>Programme, die Sie darin starten, werden nach Ihren Regeln entschieden.</translation>
    </message>
    <message>
        <source>The terminal cannot be started: %1</source>
        <translation>Das Terminal kann nicht gestartet werden: %1</translation>
    </message>
</context>
<context>
    <name>panel::GroupView</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>List of %1</source>
        <translation>Liste: %1</translation>
    </message>
</context>
<context>
    <name>panel::HelpMenu</name>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Korvel Group &amp;Site</source>
        <translation>&amp;Website der Korvel Group</translation>
    </message>
    <message>
        <source>&amp;Contact us</source>
        <translation>&amp;Kontakt</translation>
    </message>
</context>
<context>
    <name>panel::HelpWindow</name>
    <message>
        <source>Korvel Firewall Help</source>
        <translation>Korvel Firewall – Hilfe</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>&amp;Back</source>
        <translation>&amp;Zurück</translation>
    </message>
    <message>
        <source>The help page %1 is not installed.</source>
        <translation>Die Hilfeseite %1 ist nicht installiert.</translation>
    </message>
</context>
<context>
    <name>panel::LogPage</name>
    <message>
        <source>Program, host, address, port</source>
        <translation>Programm, Host, Adresse, Port</translation>
    </message>
    <message>
        <source>&amp;Search:</source>
        <translation>Su&amp;che:</translation>
    </message>
    <message>
        <source>&amp;Day:</source>
        <translation>&amp;Tag:</translation>
    </message>
    <message>
        <source>All days</source>
        <translation>Alle Tage</translation>
    </message>
    <message>
        <source>Shows the records that match every word: a program&apos;s name or path, a host name or address (a part of it), or a port number (Ctrl+F)</source>
        <translation>Zeigt die Einträge, auf die jedes Wort passt: Name oder Pfad eines Programms, Hostname oder Adresse (auch ein Teil davon) oder eine Portnummer (Strg+F)</translation>
    </message>
</context>
<context>
    <name>panel::LogView</name>
    <message>
        <source>Make a &amp;rule from this...</source>
        <translation>&amp;Regel daraus erstellen...</translation>
    </message>
    <message>
        <source>&amp;Add the program</source>
        <translation>Programm &amp;hinzufügen</translation>
    </message>
    <message>
        <source>A system service: its rules are set on the Protection page</source>
        <translation>Ein Systemdienst: seine Regeln werden auf der Seite „Schutz“ festgelegt</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Application</source>
        <translation>Anwendung</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Ip</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>Remote port</source>
        <translation>Entfernter Port</translation>
    </message>
    <message>
        <source>Local port</source>
        <translation>Lokaler Port</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Host</translation>
    </message>
</context>
<context>
    <name>panel::MainForm</name>
    <message>
        <source>System settings</source>
        <translation>Systemeinstellungen</translation>
    </message>
    <message>
        <source>Shut Down Korvel Firewall</source>
        <translation>Korvel Firewall beenden</translation>
    </message>
    <message>
        <source>Shut down the firewall?

Programs are no longer filtered until the control panel starts again.</source>
        <translation>Die Firewall beenden?

Programme werden nicht mehr gefiltert, bis die Steuerzentrale wieder startet.</translation>
    </message>
    <message>
        <source>&amp;Shut Down</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Korvel Firewall</source>
        <translation>Korvel Firewall</translation>
    </message>
    <message numerus="yes">
        <source>Learning ended: %n programs to review</source>
        <translation>
            <numerusform>Lernen beendet: %n Programm zu prüfen</numerusform>
            <numerusform>Lernen beendet: %n Programme zu prüfen</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>panel::MainToolBar</name>
    <message>
        <source>Connections</source>
        <translation>Verbindungen</translation>
    </message>
    <message>
        <source>Find in logs</source>
        <translation>In Protokollen suchen</translation>
    </message>
    <message>
        <source>Help (the page: F1)</source>
        <translation>Hilfe (die Seite: F1)</translation>
    </message>
    <message>
        <source>Shut Down Korvel Firewall</source>
        <translation>Korvel Firewall beenden</translation>
    </message>
    <message>
        <source>Allowed incoming traffic</source>
        <translation>Zugelassener eingehender Verkehr</translation>
    </message>
    <message>
        <source>Allowed outgoing traffic</source>
        <translation>Zugelassener ausgehender Verkehr</translation>
    </message>
    <message>
        <source>Blocked incoming traffic</source>
        <translation>Blockierter eingehender Verkehr</translation>
    </message>
    <message>
        <source>Blocked outgoing traffic</source>
        <translation>Blockierter ausgehender Verkehr</translation>
    </message>
    <message>
        <source>Add Application</source>
        <translation>Anwendung hinzufügen</translation>
    </message>
    <message>
        <source>Logs</source>
        <translation>Protokolle</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Block All</source>
        <translation>Alles blockieren</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Shut down</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>panel::ConnectionsView</name>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>Process %1</source>
        <translation>Prozess %1</translation>
    </message>
    <message>
        <source>Unknown program</source>
        <translation>Unbekanntes Programm</translation>
    </message>
    <message>
        <source>1 connection</source>
        <translation>1 Verbindung</translation>
    </message>
    <message>
        <source>1 program</source>
        <translation>1 Programm</translation>
    </message>
    <message>
        <source>%1/s</source>
        <translation>%1/s</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>Listening</source>
        <translation>Wartend</translation>
    </message>
    <message>
        <source>No record today</source>
        <translation>Heute kein Eintrag</translation>
    </message>
    <message>
        <source>Not decided</source>
        <translation>Nicht entschieden</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>Process</source>
        <translation>Prozess</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>Richtung</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Peer</source>
        <translation>Gegenstelle</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Sent</source>
        <translation>Gesendet</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>Empfangen</translation>
    </message>
    <message>
        <source>Rate</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source>Age</source>
        <translation>Alter</translation>
    </message>
    <message>
        <source>Decided by</source>
        <translation>Entschieden durch</translation>
    </message>
    <message>
        <source>Search programs, peers, hosts, ports</source>
        <translation>Programme, Gegenstellen, Hosts, Ports suchen</translation>
    </message>
    <message>
        <source>The kernel&apos;s list of connections cannot be read: %1</source>
        <translation>Die Verbindungsliste des Kernels kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Not every connection could be read: the first are shown.</source>
        <translation>Nicht alle Verbindungen konnten gelesen werden: die ersten werden gezeigt.</translation>
    </message>
    <message>
        <source>%1/s in, %2/s out</source>
        <translation>%1/s herein, %2/s hinaus</translation>
    </message>
    <message>
        <source>Block %1 for %2…</source>
        <translation>%1 für %2 blockieren…</translation>
    </message>
    <message>
        <source>Block port %1 for %2…</source>
        <translation>Port %1 für %2 blockieren…</translation>
    </message>
    <message>
        <source>&amp;End this connection</source>
        <translation>Diese Verbindung &amp;beenden</translation>
    </message>
    <message>
        <source>The connection was ended.</source>
        <translation>Die Verbindung wurde beendet.</translation>
    </message>
    <message>
        <source>The connection could not be ended: the system does not let the panel reach into that program.</source>
        <translation>Die Verbindung konnte nicht beendet werden: das System lässt die Steuerzentrale nicht in dieses Programm.</translation>
    </message>
    <message>
        <source>The connection had already ended.</source>
        <translation>Die Verbindung war schon beendet.</translation>
    </message>
    <message>
        <source>The connection could not be ended: %1</source>
        <translation>Die Verbindung konnte nicht beendet werden: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n connections</source>
        <translation>
            <numerusform>%n Verbindung</numerusform>
            <numerusform>%n Verbindungen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n programs</source>
        <translation>
            <numerusform>%n Programm</numerusform>
            <numerusform>%n Programme</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>panel::HostListAddDialog</name>
    <message>
        <source>Add a host list</source>
        <translation>Hostliste hinzufügen</translation>
    </message>
    <message>
        <source>https://… or a file</source>
        <translation>https://… oder eine Datei</translation>
    </message>
    <message>
        <source>&amp;Browse…</source>
        <translation>&amp;Durchsuchen…</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>A&amp;ddress or file:</source>
        <translation>&amp;Adresse oder Datei:</translation>
    </message>
    <message>
        <source>Host list file</source>
        <translation>Datei der Hostliste</translation>
    </message>
    <message>
        <source>A name has 1 to %1 letters, digits, &apos;.&apos;, &apos;_&apos;, &apos;-&apos; or blanks and begins with a letter or digit.</source>
        <translation>Ein Name hat 1 bis %1 Buchstaben, Ziffern, „.“, „_“, „-“ oder Leerzeichen und beginnt mit einem Buchstaben oder einer Ziffer.</translation>
    </message>
    <message>
        <source>Only http and https addresses can be fetched.</source>
        <translation>Nur http- und https-Adressen können geladen werden.</translation>
    </message>
</context>
<context>
    <name>panel::HostListsView</name>
    <message>
        <source>Never</source>
        <translation>Nie</translation>
    </message>
    <message>
        <source>&amp;Add…</source>
        <translation>&amp;Hinzufügen…</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>Jetzt &amp;aktualisieren</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Aktiv</translation>
    </message>
    <message>
        <source>Entries</source>
        <translation>Einträge</translation>
    </message>
    <message>
        <source>Last update</source>
        <translation>Letzte Aktualisierung</translation>
    </message>
    <message>
        <source>Last error</source>
        <translation>Letzter Fehler</translation>
    </message>
    <message>
        <source>Refused today</source>
        <translation>Heute abgewiesen</translation>
    </message>
    <message>
        <source>Switching the list &quot;%1&quot; on…</source>
        <translation>Die Liste „%1“ wird eingeschaltet…</translation>
    </message>
    <message>
        <source>Switching the list &quot;%1&quot; off…</source>
        <translation>Die Liste „%1“ wird ausgeschaltet…</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was not switched on: %2</source>
        <translation>Die Liste „%1“ wurde nicht eingeschaltet: %2</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was not switched off: %2</source>
        <translation>Die Liste „%1“ wurde nicht ausgeschaltet: %2</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; is on.</source>
        <translation>Die Liste „%1“ ist eingeschaltet.</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; is off; it keeps its entries for when it is switched on.</source>
        <translation>Die Liste „%1“ ist ausgeschaltet; ihre Einträge bleiben für das Wiedereinschalten erhalten.</translation>
    </message>
    <message>
        <source>Fetching the list &quot;%1&quot;…</source>
        <translation>Die Liste „%1“ wird geladen…</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was not added: %2</source>
        <translation>Die Liste „%1“ wurde nicht hinzugefügt: %2</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was added. Entries: %2</source>
        <translation>Die Liste „%1“ wurde hinzugefügt. Einträge: %2</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was not updated; its last good copy stays in use: %2</source>
        <translation>Die Liste „%1“ wurde nicht aktualisiert; ihre letzte gute Fassung bleibt in Gebrauch: %2</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was updated.</source>
        <translation>Die Liste „%1“ wurde aktualisiert.</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; has not changed.</source>
        <translation>Die Liste „%1“ hat sich nicht geändert.</translation>
    </message>
    <message>
        <source>Remove a host list</source>
        <translation>Hostliste entfernen</translation>
    </message>
    <message>
        <source>Remove the host list &quot;%1&quot;? Its entries stop counting at once.</source>
        <translation>Die Hostliste „%1“ entfernen? Ihre Einträge gelten sofort nicht mehr.</translation>
    </message>
    <message>
        <source>&amp;Keep</source>
        <translation>&amp;Behalten</translation>
    </message>
    <message>
        <source>Removing the list &quot;%1&quot;…</source>
        <translation>Die Liste „%1“ wird entfernt…</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was removed.</source>
        <translation>Die Liste „%1“ wurde entfernt.</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; was not removed: %2</source>
        <translation>Die Liste „%1“ wurde nicht entfernt: %2</translation>
    </message>
    <message>
        <source>The lists are not applied to: %1</source>
        <translation>Die Listen gelten nicht für: %1</translation>
    </message>
</context>
<context>
    <name>panel::NavigationTree</name>
    <message>
        <source>Connections</source>
        <translation>Verbindungen</translation>
    </message>
    <message>
        <source>Host lists</source>
        <translation>Hostlisten</translation>
    </message>
    <message>
        <source>Allowed Applications</source>
        <translation>Zugelassene Anwendungen</translation>
    </message>
    <message>
        <source>Blocked Applications</source>
        <translation>Blockierte Anwendungen</translation>
    </message>
    <message>
        <source>Combined Applications</source>
        <translation>Gemischte Anwendungen</translation>
    </message>
    <message>
        <source>Allowed incoming connection</source>
        <translation>Eingehend zugelassen</translation>
    </message>
    <message>
        <source>Allowed outgoing connection</source>
        <translation>Ausgehend zugelassen</translation>
    </message>
    <message>
        <source>Blocked incoming connection</source>
        <translation>Eingehend blockiert</translation>
    </message>
    <message>
        <source>Blocked outgoing connection</source>
        <translation>Ausgehend blockiert</translation>
    </message>
    <message>
        <source>System settings</source>
        <translation>Systemeinstellungen</translation>
    </message>
    <message>
        <source>Protection</source>
        <translation>Schutz</translation>
    </message>
    <message>
        <source>Applications</source>
        <translation>Anwendungen</translation>
    </message>
    <message>
        <source>Logs</source>
        <translation>Protokolle</translation>
    </message>
    <message>
        <source>Review</source>
        <translation>Zur Prüfung</translation>
    </message>
</context>
<context>
    <name>panel::ProgramMenu</name>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>Add new</source>
        <translation>Neu hinzufügen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Incoming network</source>
        <translation>Eingehendes Netzwerk</translation>
    </message>
    <message>
        <source>Outgoing network</source>
        <translation>Ausgehendes Netzwerk</translation>
    </message>
</context>
<context>
    <name>panel::ProtectionView</name>
    <message numerus="yes">
        <source>%n processes</source>
        <translation>
            <numerusform>%n Prozess</numerusform>
            <numerusform>%n Prozesse</numerusform>
        </translation>
    </message>
    <message>
        <source>Protection: your programs&apos; connections are refused, see why here.</source>
        <translation>Schutz: Die Verbindungen Ihrer Programme werden abgewiesen, siehe hier, warum.</translation>
    </message>
    <message>
        <source>Protection</source>
        <translation>Schutz</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>Process</source>
        <translation>Prozess</translation>
    </message>
    <message>
        <source>Decided by</source>
        <translation>Entschieden von</translation>
    </message>
    <message>
        <source>Why</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>Restart under the firewall</source>
        <translation>Unter der Firewall neu starten</translation>
    </message>
    <message>
        <source>Show which of your programs are protected</source>
        <translation>Zeigen, welche Ihrer Programme geschützt sind</translation>
    </message>
    <message>
        <source>user %1</source>
        <translation>Benutzer %1</translation>
    </message>
    <message>
        <source>%1: %2 %3</source>
        <translation>%1: %2 %3</translation>
    </message>
    <message>
        <source>Select a program to see what covers it.</source>
        <translation>Wählen Sie ein Programm, um zu sehen, wodurch es geschützt ist.</translation>
    </message>
    <message>
        <source>%1 has ended.</source>
        <translation>%1 ist beendet.</translation>
    </message>
    <message>
        <source>The command line of %1 cannot be read: start it again yourself.</source>
        <translation>Die Befehlszeile von %1 kann nicht gelesen werden: Starten Sie es selbst neu.</translation>
    </message>
    <message>
        <source>Restart %1 (process %2) under the firewall?

It is ended and started again with the same command line, in the same folder. Work not saved in it is lost.</source>
        <translation>%1 (Prozess %2) unter der Firewall neu starten?

Es wird beendet und mit derselben Befehlszeile im selben Ordner wieder gestartet. Darin nicht gespeicherte Arbeit geht verloren.</translation>
    </message>
    <message>
        <source>%1 cannot be ended: %2</source>
        <translation>%1 kann nicht beendet werden: %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 did not end within %n seconds: it was not restarted.</source>
        <translation>
            <numerusform>%1 hat sich nicht innerhalb von %n Sekunde beendet: Es wurde nicht neu gestartet.</numerusform>
            <numerusform>%1 hat sich nicht innerhalb von %n Sekunden beendet: Es wurde nicht neu gestartet.</numerusform>
        </translation>
    </message>
    <message>
        <source>It cannot be started again under the firewall: %1</source>
        <translation>Es kann nicht wieder unter der Firewall gestartet werden: %1</translation>
    </message>
    <message>
        <source>Protect the programs the firewall cannot enter</source>
        <translation>Programme schützen, in die die Firewall nicht hinein kann</translation>
    </message>
    <message>
        <source>%1 cannot be started.</source>
        <translation>%1 kann nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Nothing was changed: no administrator agreed.</source>
        <translation>Nichts wurde geändert: Kein Administrator hat zugestimmt.</translation>
    </message>
    <message>
        <source>It could not be started.</source>
        <translation>Er konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>It could not be started: %1</source>
        <translation>Er konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>Waiting for an administrator to agree.</source>
        <translation>Warten auf die Zustimmung eines Administrators.</translation>
    </message>
    <message>
        <source>This kernel cannot run the kernel backstop.</source>
        <translation>Dieser Kernel kann den Kernel-Rückhalt nicht ausführen.</translation>
    </message>
    <message>
        <source>The kernel backstop is not installed.</source>
        <translation>Der Kernel-Rückhalt ist nicht installiert.</translation>
    </message>
    <message>
        <source>Asks for an administrator&apos;s password, then starts the kernel backstop for you, now and at every start of the computer.</source>
        <translation>Fragt nach dem Passwort eines Administrators und startet dann den Kernel-Rückhalt für Sie, jetzt und bei jedem Start des Computers.</translation>
    </message>
    <message>
        <source>System services</source>
        <translation>Systemdienste</translation>
    </message>
    <message>
        <source>Service</source>
        <translation>Dienst</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>The services&apos; kernel backstop runs: it decides these programs by %1.</source>
        <translation>Der Kernel-Rückhalt der Dienste läuft: Er entscheidet über diese Programme nach %1.</translation>
    </message>
    <message>
        <source>The services&apos; kernel backstop is not running: nothing decides these programs.</source>
        <translation>Der Kernel-Rückhalt der Dienste läuft nicht: Nichts entscheidet über diese Programme.</translation>
    </message>
    <message>
        <source>There is no services&apos; rules file: every service is permitted both ways and recorded.</source>
        <translation>Es gibt keine Regeldatei der Dienste: Jeder Dienst wird in beide Richtungen zugelassen und protokolliert.</translation>
    </message>
    <message>
        <source>The services&apos; rules cannot be read: %1</source>
        <translation>Die Regeln der Dienste können nicht gelesen werden: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n of root&apos;s programs are not listed: only root can see their sockets.</source>
        <translation>
            <numerusform>%n Programm von root fehlt hier: Nur root sieht seine Sockets.</numerusform>
            <numerusform>%n Programme von root fehlen hier: Nur root sieht ihre Sockets.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Only the first %n are listed.</source>
        <translation>
            <numerusform>Nur der erste wird gezeigt.</numerusform>
            <numerusform>Nur die ersten %n werden gezeigt.</numerusform>
        </translation>
    </message>
    <message>
        <source>Not set</source>
        <translation>Nicht festgelegt</translation>
    </message>
    <message>
        <source>Permit</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>Ask</source>
        <translation>Fragen</translation>
    </message>
    <message numerus="yes">
        <source>Its entry, %1, with %n rule(s)</source>
        <translation>
            <numerusform>Sein Eintrag, %1, mit %n Regel</numerusform>
            <numerusform>Sein Eintrag, %1, mit %n Regeln</numerusform>
        </translation>
    </message>
    <message>
        <source>Its entry, %1</source>
        <translation>Sein Eintrag, %1</translation>
    </message>
    <message>
        <source>The services&apos; default</source>
        <translation>Die Vorgabe der Dienste</translation>
    </message>
    <message>
        <source>The shipped default</source>
        <translation>Die ausgelieferte Vorgabe</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>%1 (as the program names itself: it cannot be looked into)</source>
        <translation>%1 (wie das Programm sich selbst nennt: Es kann nicht eingesehen werden)</translation>
    </message>
    <message>
        <source>Set its &amp;defaults</source>
        <translation>&amp;Standards festlegen</translation>
    </message>
    <message>
        <source>The services&apos; rules were changed.</source>
        <translation>Die Regeln der Dienste wurden geändert.</translation>
    </message>
    <message>
        <source>The administrator&apos;s helper is not installed.</source>
        <translation>Das Hilfsprogramm für Administratoren ist nicht installiert.</translation>
    </message>
    <message>
        <source>Select a service.</source>
        <translation>Wählen Sie einen Dienst aus.</translation>
    </message>
    <message>
        <source>Its program file is not known.</source>
        <translation>Seine Programmdatei ist nicht bekannt.</translation>
    </message>
    <message>
        <source>Asks for an administrator&apos;s password, then sets the service&apos;s defaults in %1.</source>
        <translation>Fragt nach dem Passwort eines Administrators und legt dann die Standards des Dienstes in %1 fest.</translation>
    </message>
</context>
<context>
    <name>panel::ReviewView</name>
    <message>
        <source>Allowed while learning</source>
        <translation>Beim Lernen zugelassen</translation>
    </message>
    <message>
        <source>Blocked while learning</source>
        <translation>Beim Lernen blockiert</translation>
    </message>
    <message>
        <source>Allowed quietly</source>
        <translation>Still zugelassen</translation>
    </message>
    <message>
        <source>Blocked quietly</source>
        <translation>Still blockiert</translation>
    </message>
    <message>
        <source>&amp;Allow</source>
        <translation>&amp;Zulassen</translation>
    </message>
    <message>
        <source>&amp;Block</source>
        <translation>&amp;Blockieren</translation>
    </message>
    <message>
        <source>All of this &amp;program</source>
        <translation>Das ganze &amp;Programm</translation>
    </message>
    <message>
        <source>&amp;Dismiss</source>
        <translation>&amp;Verwerfen</translation>
    </message>
    <message>
        <source>Nothing to review. In a quiet mode or while learning, what would have been asked is listed here, to be turned into rules.</source>
        <translation>Nichts zu prüfen. In einem stillen Modus oder beim Lernen steht hier, was sonst gefragt worden wäre, um daraus Regeln zu machen.</translation>
    </message>
    <message>
        <source>This host and port</source>
        <translation>Dieser Host und Port</translation>
    </message>
    <message>
        <source>This port</source>
        <translation>Dieser Port</translation>
    </message>
    <message>
        <source>Any host and port</source>
        <translation>Jeder Host und Port</translation>
    </message>
    <message>
        <source>&amp;Scope:</source>
        <translation>&amp;Umfang:</translation>
    </message>
    <message>
        <source>Program or direction</source>
        <translation>Programm oder Richtung</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>Decided</source>
        <translation>Entschieden</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>Anzahl</translation>
    </message>
    <message>
        <source>Last</source>
        <translation>Zuletzt</translation>
    </message>
    <message>
        <source>&amp;Scope</source>
        <translation>&amp;Umfang</translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation>Ausgehend</translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation>Eingehend</translation>
    </message>
    <message>
        <source>No rule can cover just this: a host or port in the list is not one a rule can name. Choose a wider scope, or Dismiss.</source>
        <translation>Keine Regel kann genau dies decken: Ein Host oder Port der Liste ist keiner, den eine Regel nennen kann. Wählen Sie einen weiteren Umfang, oder Verwerfen.</translation>
    </message>
    <message>
        <source>The list could not be written; what was settled stays listed.</source>
        <translation>Die Liste konnte nicht geschrieben werden; was erledigt wurde, bleibt aufgeführt.</translation>
    </message>
</context>
<context>
    <name>panel::RuleEditor</name>
    <message>
        <source>  Rule Default Settings  </source>
        <translation>  Grundeinstellungen der Regel  </translation>
    </message>
    <message>
        <source>Rule &amp;name :</source>
        <translation>Regel&amp;name:</translation>
    </message>
    <message>
        <source>&amp;Permission :</source>
        <translation>&amp;Berechtigung:</translation>
    </message>
    <message>
        <source>&amp;Direction :</source>
        <translation>&amp;Richtung:</translation>
    </message>
    <message>
        <source>  Port Settings  </source>
        <translation>  Port-Einstellungen  </translation>
    </message>
    <message>
        <source>Port Number</source>
        <translation>Portnummer</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>IP address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Port n&amp;umber :</source>
        <translation>P&amp;ortnummer:</translation>
    </message>
    <message>
        <source>Pro&amp;tocol:</source>
        <translation>Pro&amp;tokoll:</translation>
    </message>
    <message>
        <source>Remote IP &amp;Range:</source>
        <translation>Entfernter IP-Berei&amp;ch:</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>Hin&amp;zufügen</translation>
    </message>
    <message>
        <source>Updat&amp;e</source>
        <translation>A&amp;ktualisieren</translation>
    </message>
    <message>
        <source>Re&amp;move</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>Add rule</source>
        <translation>Regel hinzufügen</translation>
    </message>
    <message>
        <source>Problem with the Port number</source>
        <translation>Die Portnummer ist ungültig</translation>
    </message>
    <message>
        <source>Problem with the IP list syntax</source>
        <translation>Die IP-Liste ist fehlerhaft geschrieben</translation>
    </message>
    <message>
        <source>Problem with the host name syntax</source>
        <translation>Die Hostnamen sind fehlerhaft geschrieben</translation>
    </message>
    <message>
        <source>This rule covers no port: add a port first (leave the number empty for all ports)</source>
        <translation>Diese Regel gilt für keinen Port: Fügen Sie zuerst einen Port hinzu (ohne Nummer gilt er für alle Ports)</translation>
    </message>
    <message>
        <source>Remote &amp;IP:</source>
        <translation>Entfernte &amp;IP:</translation>
    </message>
    <message>
        <source>Remote &amp;host:</source>
        <translation>Entfernter &amp;Host:</translation>
    </message>
    <message>
        <source>Edit rule</source>
        <translation>Regel bearbeiten</translation>
    </message>
</context>
<context>
    <name>panel::RulesList</name>
    <message>
        <source>Rule No.</source>
        <translation>Nr.</translation>
    </message>
    <message>
        <source>Rule Name.</source>
        <translation>Regelname</translation>
    </message>
    <message>
        <source>Rule description</source>
        <translation>Regelbeschreibung</translation>
    </message>
    <message>
        <source>&amp;Edit rule</source>
        <translation>Regel &amp;bearbeiten</translation>
    </message>
</context>
<context>
    <name>panel::RulesNotice</name>
    <message>
        <source>The rules file cannot be read</source>
        <translation>Die Regeldatei kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>The rules file was not a rules document</source>
        <translation>Die Regeldatei war kein Regeldokument</translation>
    </message>
    <message>
        <source>%1: %2.
The rules in force stay as they are: programs are still decided by them. They cannot be shown or changed here until the file can be read; the firewall tries again every few seconds.</source>
        <translation>%1: %2.
Die geltenden Regeln bleiben, wie sie sind: Programme werden weiterhin nach ihnen entschieden. Hier können sie erst angezeigt oder geändert werden, wenn die Datei lesbar ist; die Firewall versucht es alle paar Sekunden erneut.</translation>
    </message>
    <message>
        <source>%1: %2.
It is kept beside it as &quot;%1.bad&quot;, and the default rules are in force now.</source>
        <translation>%1: %2.
Sie wird daneben als „%1.bad“ aufbewahrt; jetzt gelten die Standardregeln.</translation>
    </message>
</context>
<context>
    <name>panel::SecurityLevelBox</name>
    <message>
        <source>Security &amp;Level :</source>
        <translation>&amp;Sicherheitsstufe:</translation>
    </message>
    <message>
        <source>HIGH</source>
        <translation>HOCH</translation>
    </message>
    <message>
        <source>NORMAL</source>
        <translation>NORMAL</translation>
    </message>
    <message>
        <source>LOW</source>
        <translation>NIEDRIG</translation>
    </message>
    <message>
        <source>High</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Niedrig</translation>
    </message>
    <message>
        <source>UNKNOWN</source>
        <translation>UNBEKANNT</translation>
    </message>
    <message>
        <source>Status : not known until the rules file can be read.</source>
        <translation>Status: unbekannt, bis die Regeldatei gelesen werden kann.</translation>
    </message>
</context>
<context>
    <name>panel::ServiceDefaults</name>
    <message>
        <source>&amp;Incoming connections</source>
        <translation>&amp;Eingehende Verbindungen</translation>
    </message>
    <message>
        <source>&amp;Outgoing connections</source>
        <translation>&amp;Ausgehende Verbindungen</translation>
    </message>
    <message>
        <source>&amp;Permit</source>
        <translation>&amp;Zulassen</translation>
    </message>
    <message>
        <source>&amp;Ask</source>
        <translation>&amp;Fragen</translation>
    </message>
    <message>
        <source>&amp;Block</source>
        <translation>&amp;Blockieren</translation>
    </message>
    <message>
        <source>The services&apos; rules cannot be changed: %1</source>
        <translation>Die Regeln der Dienste können nicht geändert werden: %1</translation>
    </message>
    <message>
        <source>The new rules cannot be written for the administrator&apos;s helper: %1</source>
        <translation>Die neuen Regeln können nicht für das Hilfsprogramm für Administratoren geschrieben werden: %1</translation>
    </message>
    <message>
        <source>%1 cannot be started.</source>
        <translation>%1 kann nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Nothing was changed: no administrator agreed.</source>
        <translation>Nichts wurde geändert: Kein Administrator hat zugestimmt.</translation>
    </message>
    <message>
        <source>Nothing was changed: %1</source>
        <translation>Nichts wurde geändert: %1</translation>
    </message>
    <message>
        <source>The services&apos; rules were not changed.</source>
        <translation>Die Regeln der Dienste wurden nicht geändert.</translation>
    </message>
    <message>
        <source>The services&apos; rules were not changed: %1</source>
        <translation>Die Regeln der Dienste wurden nicht geändert: %1</translation>
    </message>
    <message>
        <source>For %1 (as the program names itself)</source>
        <translation>Für %1 (wie sich das Programm selbst nennt)</translation>
    </message>
    <message>
        <source>For %1</source>
        <translation>Für %1</translation>
    </message>
</context>
<context>
    <name>panel::StatusArea</name>
    <message>
        <source>  Traffic Status  </source>
        <translation>  Datenverkehr  </translation>
    </message>
    <message>
        <source>Running processes :</source>
        <translation>Laufende Prozesse:</translation>
    </message>
    <message>
        <source>Local IP address :</source>
        <translation>Lokale IP-Adresse:</translation>
    </message>
    <message>
        <source>help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Incoming traffic : 
%1 Kb/sec</source>
        <translation>Eingehend:
%1 Kb/s</translation>
    </message>
    <message>
        <source>Outgoing traffic : 
%1 Kb/sec</source>
        <translation>Ausgehend:
%1 Kb/s</translation>
    </message>
    <message>
        <source>Current version : %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>Profile: %1</source>
        <translation>Profil: %1</translation>
    </message>
    <message numerus="yes">
        <source>Blocked intruders today : %n</source>
        <translation>
            <numerusform>Heute blockierte Eindringlinge: %n</numerusform>
            <numerusform>Heute blockierte Eindringlinge: %n</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Restart %1: they still run the firewall engine an update replaced, which may block more than your rules say.</source>
        <translation>
            <numerusform>Starten Sie %1 neu: Es nutzt noch die durch ein Update ersetzte Firewall-Engine, die womöglich mehr blockiert, als Ihre Regeln vorsehen.</numerusform>
            <numerusform>Starten Sie %1 neu: Sie nutzen noch die durch ein Update ersetzte Firewall-Engine, die womöglich mehr blockiert, als Ihre Regeln vorsehen.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>panel::StoppedNotice</name>
    <message>
        <source>Korvel Firewall is shut down</source>
        <translation>Korvel Firewall ist beendet</translation>
    </message>
    <message>
        <source>Programs are no longer filtered. Start it again from the menu: Korvel Firewall.</source>
        <translation>Programme werden nicht mehr gefiltert. Starten Sie sie im Menü wieder: Korvel Firewall.</translation>
    </message>
</context>
<context>
    <name>panel::TimedAnswersWindow</name>
    <message>
        <source>  Answers for a time</source>
        <translation>  Befristete Antworten</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>Answer</source>
        <translation>Antwort</translation>
    </message>
    <message>
        <source>Time left</source>
        <translation>Verbleibende Zeit</translation>
    </message>
    <message>
        <source>No answer for a time is in force.</source>
        <translation>Zurzeit gilt keine befristete Antwort.</translation>
    </message>
    <message>
        <source>Take the selected answer back now</source>
        <translation>Die ausgewählte Antwort jetzt zurücknehmen</translation>
    </message>
    <message>
        <source>Your answers to alerts that last for a time. Each ends by itself when its time is up; End takes it back now, and the program is asked again.</source>
        <translation>Ihre Antworten auf Warnungen, die für eine gewisse Zeit gelten. Jede endet von selbst, wenn ihre Zeit abgelaufen ist; „Beenden“ nimmt sie sofort zurück, und das Programm wird erneut gefragt.</translation>
    </message>
    <message>
        <source>&amp;End</source>
        <translation>&amp;Beenden</translation>
    </message>
</context>
<context>
    <name>panel::ToolsOption</name>
    <message>
        <source>  General Settings</source>
        <translation>  Allgemeine Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>  General Korvel Firewall settings</source>
        <translation>  Allgemeine Einstellungen der Korvel Firewall</translation>
    </message>
    <message>
        <source>Load Korvel Firewall at startup</source>
        <translation>Korvel Firewall beim Anmelden starten</translation>
    </message>
    <message>
        <source>Decide every program I start</source>
        <translation>Jedes von mir gestartete Programm entscheiden</translation>
    </message>
    <message>
        <source>  Graph settings</source>
        <translation>  Diagrammeinstellungen</translation>
    </message>
    <message>
        <source>Update graph every :</source>
        <translation>Diagramm aktualisieren alle:</translation>
    </message>
    <message>
        <source>  Log file settings</source>
        <translation>  Protokolleinstellungen</translation>
    </message>
    <message>
        <source>Number of days to save the log</source>
        <translation>Tage, die das Protokoll aufbewahrt wird</translation>
    </message>
    <message>
        <source>Also send each record to the system journal</source>
        <translation>Jeden Eintrag auch an das Systemjournal senden</translation>
    </message>
    <message>
        <source>  UDP mode</source>
        <translation>  UDP-Modus</translation>
    </message>
    <message>
        <source>Use UDP full mode state</source>
        <translation>Vollständigen UDP-Zustandsmodus verwenden</translation>
    </message>
    <message>
        <source>  Security settings</source>
        <translation>  Sicherheitseinstellungen</translation>
    </message>
    <message>
        <source>Ask for applying system security settings to all applications</source>
        <translation>Vor dem Anwenden der Sicherheitseinstellungen des Systems auf alle Anwendungen fragen</translation>
    </message>
    <message>
        <source>Answer for me after</source>
        <translation>Für mich antworten nach</translation>
    </message>
    <message>
        <source>seconds (the answer is Block)</source>
        <translation>Sekunden (die Antwort ist „Blockieren“)</translation>
    </message>
    <message>
        <source>When nobody is at the screen, &amp;answer</source>
        <translation>Wenn niemand am Bildschirm ist, &amp;antworten mit</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Blockieren</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>a&amp;fter</source>
        <translation>&amp;nach</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>Sekunden</translation>
    </message>
    <message>
        <source>An answer &quot;for a time&quot; &amp;lasts</source>
        <translation>Eine befristete Antwort &amp;gilt</translation>
    </message>
    <message>
        <source>minutes</source>
        <translation>Minuten</translation>
    </message>
    <message>
        <source>Answers for a &amp;time...</source>
        <translation>&amp;Befristete Antworten …</translation>
    </message>
    <message>
        <source>Programs of your session and your services start under the firewall (from now on, and at every login); otherwise only programs started with zel-run.</source>
        <translation>Die Programme Ihrer Sitzung und Ihre Dienste starten unter der Firewall (ab jetzt und bei jeder Anmeldung); sonst nur Programme, die mit zel-run gestartet werden.</translation>
    </message>
    <message>
        <source>1 second</source>
        <translation>1 Sekunde</translation>
    </message>
    <message>
        <source>1 Minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>5 Minutes</source>
        <translation>5 Minuten</translation>
    </message>
    <message>
        <source>Every connection logged also goes to the journal (journalctl -t tessary), so that the machine&apos;s log forwarding takes it; the daily log stays as it is.</source>
        <translation>Jede protokollierte Verbindung geht auch an das Journal (journalctl -t tessary), sodass die Protokollweiterleitung des Rechners sie übernimmt; das tägliche Protokoll bleibt unverändert.</translation>
    </message>
    <message>
        <source>&amp;Mode:</source>
        <translation>&amp;Modus:</translation>
    </message>
    <message>
        <source>Ask me</source>
        <translation>Mich fragen</translation>
    </message>
    <message>
        <source>Quiet: allow</source>
        <translation>Still: zulassen</translation>
    </message>
    <message>
        <source>Quiet: block</source>
        <translation>Still: blockieren</translation>
    </message>
    <message>
        <source>Learn for</source>
        <translation>Lernen für</translation>
    </message>
    <message>
        <source>Days to learn</source>
        <translation>Tage zu lernen</translation>
    </message>
    <message>
        <source>days</source>
        <translation>Tage</translation>
    </message>
</context>
<context>
    <name>panel::TrayIcon</name>
    <message>
        <source>Profile: %1</source>
        <translation>Profil: %1</translation>
    </message>
    <message>
        <source>&amp;View Korvel Firewall Settings</source>
        <translation>Korvel-Firewall-Einstellungen &amp;anzeigen</translation>
    </message>
    <message>
        <source>&amp;Block All</source>
        <translation>Alles &amp;blockieren</translation>
    </message>
    <message>
        <source>Security &amp;level</source>
        <translation>Sicherheits&amp;stufe</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>Benutzerdefiniert</translation>
    </message>
    <message>
        <source>&amp;Shut Down Korvel Firewall</source>
        <translation>Korvel Firewall b&amp;eenden</translation>
    </message>
    <message>
        <source>Korvel Firewall</source>
        <translation>Korvel Firewall</translation>
    </message>
    <message>
        <source>&amp;High</source>
        <translation>&amp;Hoch</translation>
    </message>
    <message>
        <source>&amp;Normal</source>
        <translation>&amp;Normal</translation>
    </message>
    <message>
        <source>&amp;Low</source>
        <translation>N&amp;iedrig</translation>
    </message>
    <message>
        <source>&amp;Ask me</source>
        <translation>&amp;Mich fragen</translation>
    </message>
    <message>
        <source>&amp;Quiet: allow</source>
        <translation>&amp;Still: zulassen</translation>
    </message>
    <message>
        <source>Quiet: &amp;block</source>
        <translation>Still: &amp;blockieren</translation>
    </message>
    <message>
        <source>&amp;Mode</source>
        <translation>&amp;Modus</translation>
    </message>
    <message numerus="yes">
        <source>&amp;Learn for %n days</source>
        <translation>
            <numerusform>%n Tag &amp;lernen</numerusform>
            <numerusform>%n Tage &amp;lernen</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>panel::TrayNotice</name>
    <message>
        <source>  Closing Korvel Firewall</source>
        <translation>  Korvel Firewall schließen</translation>
    </message>
    <message>
        <source>Don&apos;t show this message again</source>
        <translation>Diese Meldung nicht mehr anzeigen</translation>
    </message>
    <message>
        <source>You have chosen to close Korvel Firewall Application.
The application&apos;s icon will appear in the systray toolbar as shown in the picture below.</source>
        <translation>Sie haben die Anwendung Korvel Firewall geschlossen.
Ihr Symbol erscheint im Systembereich der Kontrollleiste, wie im Bild unten gezeigt.</translation>
    </message>
</context>
<context>
    <name>zel</name>
    <message>
        <source>the first set-up (%1) did not succeed</source>
        <translation>die erste Einrichtung (%1) ist nicht gelungen</translation>
    </message>
    <message>
        <source>usage: zel [--quit-after-start] [Qt options]</source>
        <translation>Aufruf: zel [--quit-after-start] [Qt-Optionen]</translation>
    </message>
    <message>
        <source>The firewall&apos;s control panel: programs, rules, logs and live traffic. See zel(1).
  --quit-after-start  end as soon as the window is shown (for timing the start)</source>
        <translation>Die Steuerzentrale der Firewall: Programme, Regeln, Protokolle und laufender Datenverkehr. Siehe zel(1).
  --quit-after-start  beenden, sobald das Fenster gezeigt ist (um den Start zu messen)</translation>
    </message>
    <message>
        <source>no display to show the control panel on (DISPLAY and WAYLAND_DISPLAY are not set).
Run it in a desktop session, or with QT_QPA_PLATFORM=offscreen to run it without one.</source>
        <translation>kein Bildschirm, auf dem die Steuerzentrale erscheinen kann (DISPLAY und WAYLAND_DISPLAY sind nicht gesetzt).
Starten Sie sie in einer Desktop-Sitzung oder mit QT_QPA_PLATFORM=offscreen, um sie ohne Bildschirm laufen zu lassen.</translation>
    </message>
    <message>
        <source>The firewall cannot use its runtime folder, so programs cannot reach the control panel.</source>
        <translation>Die Firewall kann ihren Laufzeitordner nicht benutzen; Programme erreichen die Steuerzentrale daher nicht.</translation>
    </message>
</context>
</TS>
