<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="de">
<context>
    <name>monitor::AltitudePlot</name>
    <message>
        <source>Platzer</source>
        <translation>Burst</translation>
    </message>
</context>
<context>
    <name>monitor::ChasePanel</name>
    <message>
        <source>Flugphase</source>
        <translation>Flight phase</translation>
    </message>
    <message>
        <source>Höchste Höhe</source>
        <translation>Highest altitude</translation>
    </message>
    <message>
        <source>Platzer</source>
        <translation>Burst</translation>
    </message>
    <message>
        <source>Landung</source>
        <translation>Landing</translation>
    </message>
    <message>
        <source>Landepunkt</source>
        <translation>Landing point</translation>
    </message>
    <message>
        <source>vom eigenen Standort</source>
        <translation>from home</translation>
    </message>
    <message>
        <source>Datenalter</source>
        <translation>Data age</translation>
    </message>
    <message>
        <source>Ballon vom Auto</source>
        <translation>Balloon from the car</translation>
    </message>
    <message>
        <source>Erhebung zum Ballon</source>
        <translation>Elevation to the balloon</translation>
    </message>
    <message>
        <source>Landepunkt vom Auto</source>
        <translation>Landing point from the car</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Car</translation>
    </message>
    <message>
        <source>Alarm bei Platzer</source>
        <translation>Alarm at burst</translation>
    </message>
    <message>
        <source>Alarm bei Landung näher als</source>
        <translation>Alarm at a landing closer than</translation>
    </message>
    <message>
        <source>Alarm ohne Daten seit</source>
        <translation>Alarm without data for</translation>
    </message>
    <message>
        <source>Landehöhe</source>
        <translation>Landing altitude</translation>
    </message>
    <message>
        <source>Nachtmodus</source>
        <translation>Night mode</translation>
    </message>
    <message>
        <source>Aus</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Ballon</source>
        <translation>Balloon</translation>
    </message>
    <message>
        <source>Was die Karte mit jedem Datensatz in die Mitte rückt</source>
        <translation>What the map keeps in the middle as records come</translation>
    </message>
    <message>
        <source>Folgen</source>
        <translation>Follow</translation>
    </message>
    <message>
        <source>Kachelserver mit {z}, {x} und {y}, oder none für keinen</source>
        <translation>Tile server with {z}, {x} and {y}, or none for none</translation>
    </message>
    <message>
        <source>Kachelserver</source>
        <translation>Tile server</translation>
    </message>
    <message>
        <source>Kachelserver: http(s)-Adresse mit {z}, {x} und {y} oder none, nicht &quot;%1&quot;</source>
        <translation>Tile server: an http(s) address with {z}, {x} and {y}, or none, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>keine</source>
        <translation>none</translation>
    </message>
    <message>
        <source>Karte ohne Netz: MBTiles-Datei, vor dem Netz benutzt</source>
        <translation>Map without a network: an MBTiles file, used before the network</translation>
    </message>
    <message>
        <source>MBTiles-Datei wählen</source>
        <translation>Choose an MBTiles file</translation>
    </message>
    <message>
        <source>MBTiles-Datei</source>
        <translation>MBTiles file</translation>
    </message>
    <message>
        <source>MBTiles (*.mbtiles);;Alle Dateien (*)</source>
        <translation>MBTiles (*.mbtiles);;All files (*)</translation>
    </message>
    <message>
        <source>So lange nach dem letzten Fix endet ein Flug</source>
        <translation>A flight ends this long after its last fix</translation>
    </message>
    <message>
        <source>Flugende nach</source>
        <translation>Flight ends after</translation>
    </message>
    <message>
        <source>Alarme als Desktop-Meldung</source>
        <translation>Alarms as desktop notifications</translation>
    </message>
    <message>
        <source>Auch wenn das Fenster hinter dem Navi liegt</source>
        <translation>Also while the window lies behind the navigation program</translation>
    </message>
    <message>
        <source>Flug %1 verworfen: kein weiterer Fix und keine zweite Station</source>
        <translation>Flight %1 dropped: no further fix and no second station</translation>
    </message>
    <message>
        <source>PLATZER in %1 m</source>
        <translation>BURST at %1 m</translation>
    </message>
    <message>
        <source>LANDUNG %1 km vom eigenen Standort (%2)</source>
        <translation>LANDING %1 km from home (%2)</translation>
    </message>
    <message>
        <source>KEINE DATEN seit %1</source>
        <translation>NO DATA for %1</translation>
    </message>
    <message>
        <source>Flug %1: %2</source>
        <translation>Flight %1: %2</translation>
    </message>
    <message>
        <source>noch keine Landeschätzung</source>
        <translation>no landing estimate yet</translation>
    </message>
    <message>
        <source>Landepunkt %1: %2 km, %3 vom Auto</source>
        <translation>Landing point %1: %2 km, %3 from the car</translation>
    </message>
    <message>
        <source>Landepunkt %1: %2 km, %3 vom eigenen Standort</source>
        <translation>Landing point %1: %2 km, %3 from home</translation>
    </message>
    <message>
        <source>Vertikal Ø %1 s</source>
        <translation>Vertical Ø %1 s</translation>
    </message>
    <message>
        <source>%1 m um %2 UTC</source>
        <translation>%1 m at %2 UTC</translation>
    </message>
    <message>
        <source>burst not seen</source>
        <translation>burst not seen</translation>
    </message>
    <message>
        <source>gelandet</source>
        <translation>landed</translation>
    </message>
    <message>
        <source>in %1 min %2 s, %3 UTC</source>
        <translation>in %1 min %2 s, %3 UTC</translation>
    </message>
    <message>
        <source>, Kurs </source>
        <translation>, course </translation>
    </message>
    <message>
        <source>Fix</source>
        <translation>Fix</translation>
    </message>
    <message>
        <source>Sprache ab dem nächsten Start: %1</source>
        <translation>Language from the next start: %1</translation>
    </message>
    <message>
        <source>Sinkrate Boden</source>
        <translation>Ground sink rate</translation>
    </message>
    <message>
        <source>Annahmen</source>
        <translation>Assumptions</translation>
    </message>
    <message>
        <source>geradeaus</source>
        <translation>straight ahead</translation>
    </message>
    <message>
        <source>%1° rechts</source>
        <translation>%1° right</translation>
    </message>
    <message>
        <source>%1° links</source>
        <translation>%1° left</translation>
    </message>
    <message>
        <source>in %1 min %2 s, %3 UTC (Vorhersage)</source>
        <translation>in %1 min %2 s, %3 UTC (predicted)</translation>
    </message>
    <message>
        <source> (Vorhersage)</source>
        <translation> (predicted)</translation>
    </message>
    <message>
        <source>GPS: kein Fix seit %1 s</source>
        <translation>GPS: no fix for %1 s</translation>
    </message>
</context>
<context>
    <name>monitor::FlightsList</name>
    <message>
        <source>Flüge</source>
        <translation>Flights</translation>
    </message>
    <message>
        <source>Automatisch</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>Dem Flug folgen, der dem eigenen Standort am nächsten ist</source>
        <translation>Follow the flight nearest to home</translation>
    </message>
    <message>
        <source>Flug</source>
        <translation>Flight</translation>
    </message>
    <message>
        <source>Höhe</source>
        <translation>Altitude</translation>
    </message>
    <message>
        <source>Phase</source>
        <translation>Phase</translation>
    </message>
    <message>
        <source>Datenalter</source>
        <translation>Data age</translation>
    </message>
    <message>
        <source>Entfernung</source>
        <translation>Distance</translation>
    </message>
    <message>
        <source>Stationen</source>
        <translation>Stations</translation>
    </message>
    <message>
        <source>folgt: %1%2</source>
        <translation>following: %1%2</translation>
    </message>
    <message>
        <source> (automatisch)</source>
        <translation> (automatic)</translation>
    </message>
    <message>
        <source>folgt: -</source>
        <translation>following: -</translation>
    </message>
    <message>
        <source>beendet</source>
        <translation>ended</translation>
    </message>
</context>
<context>
    <name>monitor::GroundTrackPlot</name>
    <message>
        <source>Home</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Car</translation>
    </message>
</context>
<context>
    <name>monitor::MapPane</name>
    <message>
        <source>Klicken zum Quittieren</source>
        <translation>Click to acknowledge</translation>
    </message>
    <message>
        <source>Höhe</source>
        <translation>Altitude</translation>
    </message>
    <message>
        <source>Entfernung</source>
        <translation>Distance</translation>
    </message>
    <message>
        <source>Datenalter</source>
        <translation>Data age</translation>
    </message>
</context>
<context>
    <name>monitor::Phase</name>
    <message>
        <source>am Boden</source>
        <translation>on the ground</translation>
    </message>
    <message>
        <source>Aufstieg</source>
        <translation>ascent</translation>
    </message>
    <message>
        <source>Abstieg</source>
        <translation>descent</translation>
    </message>
</context>
<context>
    <name>monitor::PredictionRows</name>
    <message>
        <source>Modell</source>
        <translation>model</translation>
    </message>
    <message>
        <source>gemessen + Modell</source>
        <translation>measured + model</translation>
    </message>
    <message>
        <source>gemessen</source>
        <translation>measured</translation>
    </message>
    <message>
        <source>%1 m/s, Standardgesetz</source>
        <translation>%1 m/s, standard law</translation>
    </message>
    <message>
        <source>%1 m/s, gelernt (Exponent %2)</source>
        <translation>%1 m/s, learnt (exponent %2)</translation>
    </message>
    <message>
        <source>steigt %1 m/s bis %2 m, sinkt %3 m/s am Boden</source>
        <translation>rises %1 m/s to %2 m, sinks %3 m/s at the ground</translation>
    </message>
    <message>
        <source>sinkt wie gemessen</source>
        <translation>sinks as measured</translation>
    </message>
    <message>
        <source>%1; Winde %2</source>
        <translation>%1; winds %2</translation>
    </message>
    <message>
        <source>Platzhöhe, die die Vorhersage vor dem Platzer annimmt</source>
        <translation>Burst altitude the prediction assumes before the burst</translation>
    </message>
    <message>
        <source>Platzhöhe</source>
        <translation>Burst altitude</translation>
    </message>
    <message>
        <source>Sinkrate am Boden, die die Vorhersage vor dem Platzer annimmt; in dünnerer Luft schneller (Standardgesetz)</source>
        <translation>Sink rate at the ground the prediction assumes before the burst; faster in thinner air (standard law)</translation>
    </message>
    <message>
        <source>Sinkrate</source>
        <translation>Sink rate</translation>
    </message>
    <message>
        <source>keine</source>
        <translation>none</translation>
    </message>
    <message>
        <source>GRIB-Datei eines Wettermodells: u, v und geopotentielle Höhe auf Druckflächen; vor der Jagd holen, das Programm lädt nichts herunter</source>
        <translation>GRIB file of a weather model: u, v and geopotential height on pressure levels; fetch it before the chase, the program downloads nothing</translation>
    </message>
    <message>
        <source>GRIB-Datei wählen</source>
        <translation>Choose a GRIB file</translation>
    </message>
    <message>
        <source>Modellwinde</source>
        <translation>Model winds</translation>
    </message>
    <message>
        <source>GRIB (*.grib2 *.grb2 *.grib *.grb);;Alle Dateien (*)</source>
        <translation>GRIB (*.grib2 *.grb2 *.grib *.grb);;All files (*)</translation>
    </message>
    <message>
        <source>Steigrate der Vorhersage vor dem Start</source>
        <translation>Ascent rate the prediction before launch assumes</translation>
    </message>
    <message>
        <source>Steigrate</source>
        <translation>Ascent rate</translation>
    </message>
    <message>
        <source>Startort und Startzeit: Breite,Länge,JJJJ-MM-TTTHH:MMZ (UTC)</source>
        <translation>Launch site and time: lat,lon,YYYY-MM-DDTHH:MMZ (UTC)</translation>
    </message>
    <message>
        <source>Vorhersage</source>
        <translation>Predict</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Launch</translation>
    </message>
    <message>
        <source>Start: Breite,Länge,JJJJ-MM-TTTHH:MMZ, nicht &quot;%1&quot;</source>
        <translation>Launch: lat,lon,YYYY-MM-DDTHH:MMZ, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Die Vorhersage braucht Modellwinde (GRIB-Datei)</source>
        <translation>The prediction needs model winds (a GRIB file)</translation>
    </message>
    <message>
        <source>Keine Modellwinde bei %1, %2 m, %3 UTC</source>
        <translation>No model winds at %1, %2 m, %3 UTC</translation>
    </message>
    <message>
        <source>Landung %1 UTC nach %2 h %3 min: %4, %5 km, %6° vom eigenen Standort</source>
        <translation>Landing %1 UTC after %2 h %3 min: %4, %5 km, %6° from home</translation>
    </message>
</context>
<context>
    <name>monitor::TForm1</name>
    <message>
        <source>Standort des Autos von gpsd</source>
        <translation>The car&apos;s position from gpsd</translation>
    </message>
    <message>
        <source>gpsd: HOST oder HOST:PORT</source>
        <translation>gpsd: HOST or HOST:PORT</translation>
    </message>
    <message>
        <source>Landepunkt an Navi</source>
        <translation>Landing point to the navigation device</translation>
    </message>
    <message>
        <source>aktuelle Empfangsstation</source>
        <translation>current receiving station</translation>
    </message>
    <message>
        <source>UTC letzte Daten</source>
        <translation>UTC of the last data</translation>
    </message>
    <message>
        <source>Sats</source>
        <translation>Sats</translation>
    </message>
    <message>
        <source>Ubat</source>
        <translation>Battery</translation>
    </message>
    <message>
        <source>Tbat</source>
        <translation>Battery temperature</translation>
    </message>
    <message>
        <source>Taus</source>
        <translation>Outside temperature</translation>
    </message>
    <message>
        <source>Luftdruck </source>
        <translation>Air pressure </translation>
    </message>
    <message>
        <source>Höhe GPS</source>
        <translation>GPS altitude</translation>
    </message>
    <message>
        <source>Vertikalgeschwindigkeit</source>
        <translation>Vertical speed</translation>
    </message>
    <message>
        <source>gefahrene Strecke</source>
        <translation>Distance travelled</translation>
    </message>
    <message>
        <source>Distanz zum Ballon</source>
        <translation>Distance to the balloon</translation>
    </message>
    <message>
        <source>Geschwindigkeit (km/h)</source>
        <translation>Speed (km/h)</translation>
    </message>
    <message>
        <source>Ansicht</source>
        <translation>View</translation>
    </message>
    <message>
        <source>Karte im Vollbild</source>
        <translation>Full-screen map</translation>
    </message>
    <message>
        <source>Fehler bei der Verbindung</source>
        <translation>Connection error</translation>
    </message>
    <message>
        <source>verbunden mit </source>
        <translation>connected to </translation>
    </message>
    <message>
        <source>Geschwindigkeit (m/s)</source>
        <translation>Speed (m/s)</translation>
    </message>
    <message>
        <source>N</source>
        <extracomment>The course image&apos;s compass letters: north, south, west, east (&quot;Ost&quot;).</extracomment>
        <translation>N</translation>
    </message>
    <message>
        <source>S</source>
        <translation>S</translation>
    </message>
    <message>
        <source>W</source>
        <translation>W</translation>
    </message>
    <message>
        <source>O</source>
        <translation>E</translation>
    </message>
    <message>
        <source>Navi verbunden</source>
        <translation>Navigation device connected</translation>
    </message>
    <message>
        <source>Navi fehlt, neuer Versuch alle %1 s</source>
        <translation>Navigation device missing, tried again every %1 s</translation>
    </message>
    <message>
        <source>Navi nicht zu öffnen, neuer Versuch alle %1 s</source>
        <translation>Navigation device cannot be opened, tried again every %1 s</translation>
    </message>
</context>
<context>
    <name>monitor::TileLoader</name>
    <message>
        <source>MBTiles-Datei &quot;%1&quot;: %2</source>
        <translation>MBTiles file &quot;%1&quot;: %2</translation>
    </message>
    <message>
        <source>MBTiles-Datei &quot;%1&quot; hat keine Kacheln: %2</source>
        <translation>MBTiles file &quot;%1&quot; has no tiles: %2</translation>
    </message>
    <message>
        <source>MBTiles-Datei &quot;%1&quot; nicht gefunden</source>
        <translation>MBTiles file &quot;%1&quot; not found</translation>
    </message>
    <message>
        <source>MBTiles: Qt-SQLite-Treiber fehlt (libqt6sql6-sqlite)</source>
        <translation>MBTiles: the Qt SQLite driver is missing (libqt6sql6-sqlite)</translation>
    </message>
</context>
</TS>
