<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- A small translation with what the German one lacks: three plural
     forms, texts told apart by their disambiguation, a character beyond
     the Basic Multilingual Plane. Compiled with -compress so that the
     table of contexts is in it too. -->
<TS version="2.1" language="ru_RU">
<context>
    <name>files</name>
    <message numerus="yes">
        <source>%n file(s) copied</source>
        <translation>
            <numerusform>скопирован %n файл</numerusform>
            <numerusform>скопировано %n файла</numerusform>
            <numerusform>скопировано %n файлов</numerusform>
        </translation>
    </message>
    <message>
        <source>Open</source>
        <comment>verb</comment>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Open</source>
        <comment>state</comment>
        <translation>Открыт</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Unfinished</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>smile</name>
    <message>
        <source>Smile</source>
        <translation>Улыбка 😀</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закройте</translation>
    </message>
</context>
</TS>
