<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>alert::AlertContent</name>
    <message>
        <source>%1 created by %2 is trying to create %3 outgoing connection to %4 through port:%5</source>
        <translation>%1 von %2 versucht, eine ausgehende %3-Verbindung zu %4 über Port %5 aufzubauen</translation>
    </message>
    <message>
        <source>%1 created by %2 is trying to accept %3 incoming connection from %4 through port:%5</source>
        <translation>%1 von %2 versucht, eine eingehende %3-Verbindung von %4 über Port %5 anzunehmen</translation>
    </message>
    <message>
        <source>Program: %1</source>
        <translation>Programm: %1</translation>
    </message>
    <message>
        <source>Process: %1</source>
        <translation>Prozess: %1</translation>
    </message>
    <message>
        <source>Process: %1, run by %2</source>
        <translation>Prozess: %1, ausgeführt von %2</translation>
    </message>
    <message>
        <source>Command line: %1</source>
        <translation>Befehlszeile: %1</translation>
    </message>
    <message>
        <source>Started by: (process %1)</source>
        <translation>Gestartet von: (Prozess %1)</translation>
    </message>
    <message>
        <source>Started by: %1 (process %2)</source>
        <translation>Gestartet von: %1 (Prozess %2)</translation>
    </message>
    <message>
        <source>The program asking is %1, started by %2. Your answer is for %1: a rule for %2 does not cover it.</source>
        <translation>Es fragt das Programm %1, gestartet von %2. Ihre Antwort gilt für %1: Eine Regel für %2 deckt es nicht ab.</translation>
    </message>
    <message>
        <source>This is an encrypted DNS service: names this program looks up through it are hidden from the firewall.</source>
        <translation>Dies ist ein verschlüsselter DNS-Dienst: Namen, die dieses Programm über ihn nachschlägt, bleiben der Firewall verborgen.</translation>
    </message>
    <message>
        <source>The program asking is %1.</source>
        <translation>Es fragt das Programm %1.</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
</context>
<context>
    <name>alert::AlertDialog</name>
    <message>
        <source>My Computer</source>
        <translation>Mein Computer</translation>
    </message>
    <message>
        <source>How &amp;long:</source>
        <translation>Wie &amp;lange:</translation>
    </message>
    <message>
        <source>Applies &amp;to:</source>
        <translation>Gil&amp;t für:</translation>
    </message>
    <message>
        <source>&amp;Details</source>
        <translation>&amp;Details</translation>
    </message>
    <message>
        <source>&amp;Allow</source>
        <translation>Zul&amp;assen</translation>
    </message>
    <message>
        <source>&amp;Block</source>
        <translation>&amp;Blockieren</translation>
    </message>
    <message>
        <source>this connection only</source>
        <translation>nur diese Verbindung</translation>
    </message>
    <message>
        <source>until the program quits</source>
        <translation>bis das Programm endet</translation>
    </message>
    <message>
        <source>always</source>
        <translation>immer</translation>
    </message>
    <message>
        <source>%1, port %2</source>
        <translation>%1, Port %2</translation>
    </message>
    <message>
        <source>%1, any port</source>
        <translation>%1, jeder Port</translation>
    </message>
    <message>
        <source>port %1, any host</source>
        <translation>Port %1, jeder Host</translation>
    </message>
    <message>
        <source>port %1, any peer</source>
        <translation>Port %1, jede Gegenstelle</translation>
    </message>
    <message>
        <source>any connection of %1</source>
        <translation>jede Verbindung von %1</translation>
    </message>
    <message>
        <source>Apply my decision to all %1 outgoing traffic</source>
        <translation>Meine Entscheidung auf den gesamten ausgehenden Verkehr von %1 anwenden</translation>
    </message>
    <message>
        <source>Apply my decision to all %1 incoming traffic</source>
        <translation>Meine Entscheidung auf den gesamten eingehenden Verkehr von %1 anwenden</translation>
    </message>
    <message numerus="yes">
        <source>%n more waiting</source>
        <translation>
            <numerusform>%n weitere wartet</numerusform>
            <numerusform>%n weitere warten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Also for the %n &amp;waiting from this program</source>
        <translation>
            <numerusform>Auch für die %n &amp;wartende Frage dieses Programms</numerusform>
            <numerusform>Auch für die %n &amp;wartenden Fragen dieses Programms</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Block in %n s</source>
        <translation>
            <numerusform>Blockieren in %n s</numerusform>
            <numerusform>Blockieren in %n s</numerusform>
        </translation>
    </message>
    <message>
        <source>for 1 minute</source>
        <translation>für 1 Minute</translation>
    </message>
    <message numerus="yes">
        <source>for %n minutes</source>
        <translation>
            <numerusform>für %n Minute</numerusform>
            <numerusform>für %n Minuten</numerusform>
        </translation>
    </message>
    <message>
        <source>for 1 hour</source>
        <translation>für 1 Stunde</translation>
    </message>
    <message numerus="yes">
        <source>for %n hours</source>
        <translation>
            <numerusform>für %n Stunde</numerusform>
            <numerusform>für %n Stunden</numerusform>
        </translation>
    </message>
</context>
</TS>
