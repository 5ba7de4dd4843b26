#!/usr/bin/env python3
"""The byte-exact parts of a release, called by scripts/release.sh.

  release-package.py zip <out.zip> <folder> <entry>...
      Packs the entries (paths relative to folder) in the order given, every
      entry stamped with SOURCE_DATE_EPOCH and the same attributes, so the
      archive depends only on the bytes it holds.
  release-package.py spdx <out.spdx.json> <version> <Clearon.exe> <ClearonCheck.exe>
      Writes the SPDX 2.3 document: the two executables and what the build
      put inside them, with the versions and licences Debian gives for it.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import uuid
import zipfile

EPOCH = int(os.environ["SOURCE_DATE_EPOCH"])


def pack(out, folder, entries):
    # A zip records local time to two seconds and nothing before 1980.
    stamp = time.gmtime(max(EPOCH, 315532800))[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for name in entries:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, whatever packs it
            info.external_attr = 0o100644 << 16
            with open(os.path.join(folder, name), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


# What the build links into the executables: (SPDX name, Debian package,
# what it is, which executables, copyright paths it covers, paths left out).
# The left-out paths are parts of the package that never reach Clearon's
# executables (profiling start-up code, test programs).
BOTH = ("Clearon.exe", "ClearonCheck.exe")
COMPONENTS = [
    ("mingw-w64-crt", "mingw-w64-x86-64-dev", "mingw-w64 C runtime, statically linked",
     BOTH, ("*", "mingw-w64-crt/"), ("mingw-w64-crt/profile/",)),
    ("winpthreads", "mingw-w64-x86-64-dev", "mingw-w64 POSIX threads library, statically linked",
     BOTH, ("mingw-w64-libraries/winpthreads/",), ("mingw-w64-libraries/winpthreads/tests_pthread/",)),
    ("libstdc++", "g++-mingw-w64-x86-64-posix", "GCC C++ standard library, statically linked",
     BOTH, None, ()),
    ("libgcc", "gcc-mingw-w64-x86-64-posix", "GCC support library, statically linked",
     BOTH, None, ()),
    ("nlohmann-json", "nlohmann-json3-dev", "header-only JSON library, compiled in",
     ("ClearonCheck.exe",), ("*",), ()),
    ("CLI11", "libcli11-dev", "header-only command-line parser, compiled in",
     ("ClearonCheck.exe",), ("*",), ()),
]

# Debian's short licence names with an SPDX identifier; any other becomes a
# LicenseRef carrying the text Debian gives for it.
SPDX_IDS = {
    "expat": "MIT", "bsd-2-clause": "BSD-2-Clause", "bsd-3-clause": "BSD-3-Clause",
    "isc": "ISC", "zpl-2.1": "ZPL-2.1", "lgpl-2+": "LGPL-2.0-or-later",
    "lgpl-2.1+": "LGPL-2.1-or-later", "gpl-2+": "GPL-2.0-or-later", "gpl-3+": "GPL-3.0-or-later",
}


def dpkg(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f", "${" + field + "}", package],
                          check=True, capture_output=True, text=True).stdout.strip()


def copyright_file(package):
    return os.path.realpath(f"/usr/share/doc/{package}/copyright")


def paragraphs(text):
    for block in re.split(r"\n[ \t]*\n", text):
        fields, key = {}, None
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and key:
                fields[key] += "\n" + line
            elif ":" in line:
                key, value = line.split(":", 1)
                fields[key] = value.strip()
        yield fields


def licence_text(paras, name):
    """The text Debian gives for a licence name: a stand-alone paragraph or
    the body under a Files paragraph's License line."""
    for p in paras:
        head, _, body = p.get("License", "").partition("\n")
        if head.strip() == name and body.strip():
            return "\n".join(l[1:] if l.strip() != "." else "" for l in body.splitlines())
    return None


def dep5_licences(package, paths, left_out, extracted):
    path = copyright_file(package)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if not text.startswith("Format:"):
        sys.exit(f"{path} is not machine-readable: its licences cannot be read")
    paras = list(paragraphs(text))
    found = []
    for p in paras:
        if "Files" not in p:
            continue
        files = p["Files"].split()
        if any((f == "*" and "*" in paths) or
               (f.startswith(tuple(x for x in paths if x != "*")) and not f.startswith(left_out))
               for f in files):
            name = p.get("License", "").split("\n", 1)[0].strip()
            if name and name not in found:
                found.append(name)
    terms = []
    for name in found:
        words = []
        for word in re.split(r"\s+(and|or)\s+", name):
            if word in ("and", "or"):
                words.append(word.upper())
                continue
            spdx = SPDX_IDS.get(word.lower())
            if spdx is None:
                spdx = "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", word)
                extracted.setdefault(spdx, {
                    "licenseId": spdx, "name": word,
                    "extractedText": licence_text(paras, word) or f"See {path}, License: {word}",
                    "comment": f"As given in {path}"})
            words.append(spdx)
        term = " ".join(words)
        terms.append(f"({term})" if " OR " in term and len(found) > 1 else term)
    return " AND ".join(terms)


def gcc_licence(package):
    path = copyright_file(package)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if "GCC RUNTIME LIBRARY EXCEPTION" in text and "Version 3.1" in text:
        return "GPL-3.0-or-later WITH GCC-exception-3.1"
    sys.exit(f"{path} no longer names the GCC Runtime Library Exception 3.1: check its licence")


def digest(path, algorithm):
    with open(path, "rb") as f:
        return hashlib.new(algorithm, f.read()).hexdigest()


def spdx(out, version, executables):
    files, packages, relationships, extracted = [], [], [], {}
    packages.append({
        "SPDXID": "SPDXRef-Package-Clearon", "name": "Clearon", "versionInfo": version,
        "supplier": "Organization: Tessaral", "downloadLocation": "NOASSERTION",
        "filesAnalyzed": True, "licenseConcluded": "NOASSERTION",
        "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION",
        "hasFiles": [], "packageVerificationCode": {"packageVerificationCodeValue": ""}})
    relationships.append({"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                          "relatedSpdxElement": "SPDXRef-Package-Clearon"})
    for path in executables:
        name = os.path.basename(path)
        ident = "SPDXRef-File-" + name.replace(".", "-")
        files.append({"SPDXID": ident, "fileName": "./" + name,
                      "checksums": [{"algorithm": "SHA1", "checksumValue": digest(path, "sha1")},
                                    {"algorithm": "SHA256", "checksumValue": digest(path, "sha256")}],
                      "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION"})
        packages[0]["hasFiles"].append(ident)
    # The verification code: SHA-1 over the sorted SHA-1s of the files.
    sha1s = "".join(sorted(f["checksums"][0]["checksumValue"] for f in files))
    packages[0]["packageVerificationCode"]["packageVerificationCodeValue"] = \
        hashlib.sha1(sha1s.encode()).hexdigest()
    for name, package, what, inside, paths, left_out in COMPONENTS:
        ident = "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)
        debian_version = dpkg(package, "Version")
        licence = (gcc_licence(package) if paths is None
                   else dep5_licences(package, paths, left_out, extracted))
        packages.append({
            "SPDXID": ident, "name": name, "versionInfo": debian_version,
            "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION",
            "filesAnalyzed": False, "licenseConcluded": "NOASSERTION", "licenseDeclared": licence,
            "copyrightText": "NOASSERTION",
            "comment": f"{what}; from Debian package {package} {debian_version} "
                       f"(source {dpkg(package, 'source:Package')}), licences as given in "
                       f"{copyright_file(package)}",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": f"pkg:deb/debian/{package}@{debian_version}"
                                                  f"?arch={dpkg(package, 'Architecture')}"}]})
        kind = "CONTAINS" if "header-only" in what else "STATIC_LINK"
        for exe in inside:
            relationships.append({"spdxElementId": "SPDXRef-File-" + exe.replace(".", "-"),
                                  "relationshipType": kind, "relatedSpdxElement": ident})
    # The namespace must be unique to this document and still the same for
    # the same bytes: it is made from the executables' digests.
    unique = uuid.uuid5(uuid.NAMESPACE_URL, sha1s)
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"Clearon-{version}",
        "documentNamespace": f"https://spdx.org/spdxdocs/Clearon-{version}-{unique}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(EPOCH)),
            "creators": ["Organization: Tessaral", "Tool: Clearon scripts/release.sh"]},
        "packages": packages, "files": files, "relationships": relationships}
    if extracted:
        document["hasExtractedLicensingInfos"] = [extracted[k] for k in sorted(extracted)]
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        json.dump(document, f, indent=2, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "zip":
        pack(sys.argv[2], sys.argv[3], sys.argv[4:])
    elif len(sys.argv) == 6 and sys.argv[1] == "spdx":
        spdx(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        sys.exit(__doc__)
