<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>1 </source>
        <translation>one </translation>
    </message>
    <message>
        <source>2 </source>
        <translation>two </translation>
    </message>
    <message>
        <source>3 </source>
        <translation>three </translation>
    </message>
    <message>
        <source>4 </source>
        <translation>four </translation>
    </message>
    <message>
        <source>5 </source>
        <translation>five </translation>
    </message>
    <message>
        <source>6 </source>
        <translation>six </translation>
    </message>
    <message>
        <source>7 </source>
        <translation>seven </translation>
    </message>
    <message>
        <source>8 </source>
        <translation>eight </translation>
    </message>
    <message>
        <source>9 </source>
        <translation>nine </translation>
    </message>
    <message>
        <source>1f </source>
        <translation>one </translation>
    </message>
    <message>
        <source>2f </source>
        <translation>two </translation>
    </message>
    <message>
        <source>3f </source>
        <translation>three </translation>
    </message>
    <message>
        <source>4f </source>
        <translation>four </translation>
    </message>
    <message>
        <source>5f </source>
        <translation>five </translation>
    </message>
    <message>
        <source>6f </source>
        <translation>six </translation>
    </message>
    <message>
        <source>7f </source>
        <translation>seven </translation>
    </message>
    <message>
        <source>8f </source>
        <translation>eight </translation>
    </message>
    <message>
        <source>9f </source>
        <translation>nine </translation>
    </message>
    <message>
        <source>10 </source>
        <translation>ten </translation>
    </message>
    <message>
        <source>11 </source>
        <translation>eleven </translation>
    </message>
    <message>
        <source>12 </source>
        <translation>twelve </translation>
    </message>
    <message>
        <source>13 </source>
        <translation>thirteen </translation>
    </message>
    <message>
        <source>14 </source>
        <translation>fourteen </translation>
    </message>
    <message>
        <source>15 </source>
        <translation>fifteen </translation>
    </message>
    <message>
        <source>16 </source>
        <translation>sixteen </translation>
    </message>
    <message>
        <source>17 </source>
        <translation>seventeen </translation>
    </message>
    <message>
        <source>18 </source>
        <translation>eighteen </translation>
    </message>
    <message>
        <source>19 </source>
        <translation>nineteen </translation>
    </message>
    <message>
        <source>20 </source>
        <translation>twenty </translation>
    </message>
    <message>
        <source>30 </source>
        <translation>thirty </translation>
    </message>
    <message>
        <source>40 </source>
        <translation>forty </translation>
    </message>
    <message>
        <source>50 </source>
        <translation>fifty </translation>
    </message>
    <message>
        <source>60 </source>
        <translation>sixty </translation>
    </message>
    <message>
        <source>70 </source>
        <translation>seventy </translation>
    </message>
    <message>
        <source>80 </source>
        <translation>eighty </translation>
    </message>
    <message>
        <source>90 </source>
        <translation>ninety </translation>
    </message>
    <message>
        <source>100 </source>
        <translation>one hundred </translation>
    </message>
    <message>
        <source>200 </source>
        <translation>two hundred </translation>
    </message>
    <message>
        <source>300 </source>
        <translation>three hundred </translation>
    </message>
    <message>
        <source>400 </source>
        <translation>four hundred </translation>
    </message>
    <message>
        <source>500 </source>
        <translation>five hundred </translation>
    </message>
    <message>
        <source>600 </source>
        <translation>six hundred </translation>
    </message>
    <message>
        <source>700 </source>
        <translation>seven hundred </translation>
    </message>
    <message>
        <source>800 </source>
        <translation>eight hundred </translation>
    </message>
    <message>
        <source>900 </source>
        <translation>nine hundred </translation>
    </message>
    <message>
        <source>1000 </source>
        <translation>thousand </translation>
    </message>
    <message>
        <source>1000_1 </source>
        <translation>thousand </translation>
    </message>
    <message>
        <source>1000_2 </source>
        <translation>thousand </translation>
    </message>
    <message>
        <source>1000000 </source>
        <translation>million </translation>
    </message>
    <message>
        <source>1000000_1 </source>
        <translation>million </translation>
    </message>
    <message>
        <source>1000000_2 </source>
        <translation>million </translation>
    </message>
    <message>
        <source>1000000000 </source>
        <translation>billion </translation>
    </message>
    <message>
        <source>1000000000_1 </source>
        <translation>billion </translation>
    </message>
    <message>
        <source>1000000000_2 </source>
        <translation>billion </translation>
    </message>
    <message>
        <source>Minus </source>
        <translation>minus </translation>
    </message>
    <message>
        <source>Big money ...</source>
        <translation>Sum too large</translation>
    </message>
</context>
</TS>
