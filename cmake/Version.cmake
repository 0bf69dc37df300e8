# The one place for Varnock's version and copyright. The version record, the
# manifest, the About box's legal line, the zips' names and the zips'
# README.txt take them from here (res/VarnockVersion.h.in,
# res/Varnock.manifest.in, packaging/README.txt.in).
set(VARNOCK_VERSION 1.0.0.1)
set(VARNOCK_COPYRIGHT "版权所有 (C) 2026")
