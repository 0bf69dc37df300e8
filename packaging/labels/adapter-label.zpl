^XA
^FX A label for one adapter, 50 x 25 mm at 203 dpi (400 x 200 dots).
^FX varnock-cli fills the placeholders, each a dollar sign and a name in
^FX braces, and sends the rest as it is. CI28 below: the printer reads the
^FX values as UTF-8, as a suffix in Chinese needs; its glyphs also need a
^FX font that has them, downloaded to the printer and named with CW.
^CI28
^PW400
^LL200
^LH0,0
^FO16,16^A0N,56,44^FH^FD${serial}^FS
^FO16,84^A0N,26,22^FH^FD${product}^FS
^FO16,116^A0N,22,20^FH^FDHW ${hardware}   FW ${firmware}^FS
^FO16,146^A0N,20,18^FH^FD${time}^FS
^FO290,34^BQN,2,4^FH^FDQA,${serial}^FS
^XZ
