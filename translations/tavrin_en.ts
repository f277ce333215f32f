<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="de">
<context>
    <name>station::StationWindow</name>
    <message>
        <source>Pfad: %1   gut: literal %2 / sensitive %3</source>
        <translation>Path: %1   good: literal %2 / sensitive %3</translation>
    </message>
    <message>
        <source>°C (innen)</source>
        <translation>°C (inside)</translation>
    </message>
    <message>
        <source>°C (aussen)</source>
        <translation>°C (outside)</translation>
    </message>
    <message>
        <source>unbekannt</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>RECHTECK</source>
        <translation>RECTANGLE</translation>
    </message>
    <message>
        <source>CALL ODER LOCATOR FEHLT</source>
        <translation>CALL OR LOCATOR MISSING</translation>
    </message>
    <message>
        <source>schnappschuss</source>
        <translation>snapshot</translation>
    </message>
    <message>
        <source>Messwert</source>
        <translation>stored value</translation>
    </message>
    <message>
        <source>Zeit</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Locator</source>
        <translation>Locator</translation>
    </message>
    <message>
        <source>Höhe</source>
        <translation>Altitude</translation>
    </message>
    <message>
        <source>Satelliten</source>
        <translation>Satellites</translation>
    </message>
    <message>
        <source>Batterie</source>
        <translation>Battery</translation>
    </message>
    <message>
        <source>Luftdruck</source>
        <translation>Air pressure</translation>
    </message>
    <message>
        <source>Temperatur</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>Breite</source>
        <translation>Latitude</translation>
    </message>
    <message>
        <source>Länge</source>
        <translation>Longitude</translation>
    </message>
    <message>
        <source>Prüfsumme</source>
        <translation>Checksum</translation>
    </message>
    <message>
        <source>Statistik</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>Sprache ab dem nächsten Start: %1</source>
        <translation>Language from the next start: %1</translation>
    </message>
    <message>
        <source>Ansicht</source>
        <translation>View</translation>
    </message>
    <message>
        <source>Nachtmodus</source>
        <translation>Night mode</translation>
    </message>
</context>
</TS>
