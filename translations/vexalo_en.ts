<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CliRun</name>
    <message numerus="yes">
        <source>%1 of %Ln files done: %2 %3, %4 failed</source>
        <translation>
            <numerusform>%1 of %Ln file done: %2 %3, %4 failed</numerusform>
            <numerusform>%1 of %Ln files done: %2 %3, %4 failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln files</source>
        <translation>
            <numerusform>%Ln file</numerusform>
            <numerusform>%Ln files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>stopped: %1 of %Ln files were not processed</source>
        <translation>
            <numerusform>stopped: %1 of %Ln file was not processed</numerusform>
            <numerusform>stopped: %1 of %Ln files were not processed</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RunProgress</name>
    <message numerus="yes">
        <source>Working through %Ln files...</source>
        <translation>
            <numerusform>Working through %Ln file...</numerusform>
            <numerusform>Working through %Ln files...</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message numerus="yes">
        <source>Stopped: %Ln files were not processed.</source>
        <translation>
            <numerusform>Stopped: %Ln file was not processed.</numerusform>
            <numerusform>Stopped: %Ln files were not processed.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Undo the Replace run of %1 in %2?

%Ln files will get back what they held before it, each only if it still holds exactly what the run wrote.</source>
        <translation>
            <numerusform>Undo the Replace run of %1 in %2?

%Ln file will get back what it held before it, if it still holds exactly what the run wrote.</numerusform>
            <numerusform>Undo the Replace run of %1 in %2?

%Ln files will get back what they held before it, each only if it still holds exactly what the run wrote.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln files of the run cannot be undone.</source>
        <translation>
            <numerusform>%Ln file of the run cannot be undone.</numerusform>
            <numerusform>%Ln files of the run cannot be undone.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vexalo</name>
    <message numerus="yes">
        <source>%Ln files</source>
        <translation>
            <numerusform>%Ln file</numerusform>
            <numerusform>%Ln files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln with matches</source>
        <translation>
            <numerusform>%Ln with matches</numerusform>
            <numerusform>%Ln with matches</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln matches in all</source>
        <translation>
            <numerusform>%Ln match in all</numerusform>
            <numerusform>%Ln matches in all</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln would fail</source>
        <translation>
            <numerusform>%Ln would fail</numerusform>
            <numerusform>%Ln would fail</numerusform>
        </translation>
    </message>
</context>
</TS>
