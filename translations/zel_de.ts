<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AddNewMenu</name>
    <message>
        <source>Add application</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AdvancedForm</name>
    <message>
        <source>  Advanced application permission</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use &amp;system rules</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move the rule up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move the rule down</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add rule</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit rule</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Remove rule</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Advanced system settings permission</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Advanced system permission</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply &amp;custom settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply &amp;system rules</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please select a rule</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ApplicationPane</name>
    <message>
        <source>  Application settings  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply &amp;system rules</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask again when the program&apos;s &amp;file changes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compares the file&apos;s SHA-256 digest with the one taken now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A&amp;dvanced...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show ser&amp;vices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Application information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The program&apos;s file cannot be read: its contents cannot be checked.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AwayDecisionsWindow</name>
    <message>
        <source>  Decided while you were away</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decided</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing was decided while you were away.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Allow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Make a rule that allows this, as the alert&apos;s Allow would have</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>BlockAllBanner</name>
    <message>
        <source>Block All is on: every connection of every program is blocked.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Turn off Block All</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CreateNewApp_Step1</name>
    <message>
        <source>Add application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Current Running Application List  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Process</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show &amp;system services</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Selected &amp;Application :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please select an application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please choose application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This application already exists in the firewall rules</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DefaultsGroup</name>
    <message>
        <source>Allow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Block</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Incoming network permission :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Outgoing network permission :</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EditApp_Step4</name>
    <message>
        <source>  Rule Default Settings  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rule &amp;name :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Permission :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Direction :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Port Settings  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port n&amp;umber :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pro&amp;tocol:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remote IP &amp;Range:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updat&amp;e</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Re&amp;move</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add rule</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Problem with the Port number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Problem with the IP list syntax</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Problem with the host name syntax</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This rule covers no port: add a port first (leave the number empty for all ports)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GroupView</name>
    <message>
        <source>List of</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Incoming</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Outgoing</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HelpWindow</name>
    <message>
        <source>Korvel Firewall Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogPage</name>
    <message>
        <source>Program, host, address, port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Search:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Day:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All days</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogView</name>
    <message>
        <source>Make a &amp;rule from this...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add the program</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainToolBar</name>
    <message>
        <source>Find in logs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help (the page: F1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shut Down Korvel Firewall</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ProtectionView</name>
    <message>
        <source>Protection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Process</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decided by</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Why</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restart under the firewall</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show which of your programs are protected</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>RulesList</name>
    <message>
        <source>Rule No.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rule Name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rule description</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>RulesNotice</name>
    <message>
        <source>The rules file cannot be read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The rules file was not a rules document</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SecurityLevelBox</name>
    <message>
        <source>Security &amp;Level :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HIGH</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>NORMAL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>LOW</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>High</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Normal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UNKNOWN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status : not known until the rules file can be read.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusArea</name>
    <message>
        <source>  Traffic Status  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Running processes :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Local IP address :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TimedAnswersWindow</name>
    <message>
        <source>  Answers for a time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No answer for a time is in force.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Take the selected answer back now</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ToolsOption</name>
    <message>
        <source>  General Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>General</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  General Korvel Firewall settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Load Korvel Firewall at startup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decide every program I start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Graph settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update graph every :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Log file settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Number of days to save the log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Also send each record to the system journal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  UDP mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use UDP full mode state</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Security settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask for applying system security settings to all applications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answer for me after</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>seconds (the answer is Block)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When nobody is at the screen, &amp;answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Block</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Allow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a&amp;fter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>seconds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An answer &quot;for a time&quot; &amp;lasts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answers for a &amp;time...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>&amp;View Korvel Firewall Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Block All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Security &amp;level</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Custom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Shut Down Korvel Firewall</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Korvel Firewall</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrayNotice</name>
    <message>
        <source>  Closing Korvel Firewall</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Don&apos;t show this message again</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>zel</name>
    <message>
        <source>the first set-up (%1) did not succeed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>usage: zel [--quit-after-start] [Qt options]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The firewall&apos;s control panel: programs, rules, logs and live traffic. See zel(1).
  --quit-after-start  end as soon as the window is shown (for timing the start)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no display to show the control panel on (DISPLAY and WAYLAND_DISPLAY are not set).
Run it in a desktop session, or with QT_QPA_PLATFORM=offscreen to run it without one.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The firewall cannot use its runtime folder, so programs cannot reach the control panel.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
