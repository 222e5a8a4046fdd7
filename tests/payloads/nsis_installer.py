"""A real NSIS installer, built with makensis (Debian's nsis), for the tests
that want what a product ships rather than a stand-in.

It runs silently and elevated: it installs PRODUCT_FILE into
$PROGRAMFILES\\<product>, copies the data member DATA_MEMBER that it finds
in its own folder into the same place (and ends with exit code
MISSING_DATA_EXIT_CODE, installing nothing, when that member is not there),
writes UNINSTALLER there and the uninstall entry HKLM\\UNINSTALL_PARENT\\<product>
(UNINSTALL_KEY for PRODUCT). As a 32-bit program under WOW64 it installs
into "Program Files (x86)" and its key lands in the 32-bit view
(Software\\Wow6432Node\\...).
"""
import os
import shutil
import subprocess
import tempfile

PRODUCT = "QVLM Toolkit Demo"
PRODUCT_FILE = "product.txt"
PRODUCT_CONTENT = b"QVLM Toolkit Demo 1.0\r\n"
DATA_MEMBER = "InstData\\setup.ini"
DATA_CONTENT = b"[Setup]\r\nEdition=Demo\r\n"
DATA_FILE = "setup.ini"
# What the install folder holds besides UNINSTALLER.
INSTALLED_FILES = {PRODUCT_FILE: PRODUCT_CONTENT, DATA_FILE: DATA_CONTENT}
UNINSTALLER = "uninstall.exe"
UNINSTALL_PARENT = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
UNINSTALL_KEY = f"{UNINSTALL_PARENT}\\{PRODUCT}"
MISSING_DATA_EXIT_CODE = 3

SCRIPT = r"""Unicode true
Name "{product}"
OutFile "{out_exe}"
InstallDir "$PROGRAMFILES\{product}"
RequestExecutionLevel admin
SilentInstall silent
XPStyle {xp_style}
!define UNINSTALL_KEY "{uninstall_parent}\{product}"

Section
  IfFileExists "$EXEDIR\{data_member}" +3
    SetErrorLevel {missing_exit}
    Abort
  SetOutPath "$INSTDIR"
  File "{product_file}"
  ClearErrors
  CopyFiles /SILENT "$EXEDIR\{data_member}" "$INSTDIR"
  IfErrors 0 +3
    SetErrorLevel {missing_exit}
    Abort
  WriteUninstaller "$INSTDIR\{uninstaller}"
  WriteRegStr HKLM "${{UNINSTALL_KEY}}" "DisplayName" "{product}"
  WriteRegStr HKLM "${{UNINSTALL_KEY}}" "UninstallString" '"$INSTDIR\{uninstaller}"'
SectionEnd

Section Uninstall
  Delete "$INSTDIR\{product_file}"
  Delete "$INSTDIR\{data_file}"
  Delete "$INSTDIR\{uninstaller}"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${{UNINSTALL_KEY}}"
SectionEnd
"""


def build(out_exe, xp_style=False, product=PRODUCT):
    """Writes the installer of `product` to `out_exe`; with `xp_style` its
    manifest binds it to the Common-Controls 6 assembly, as XPStyle on does."""
    if shutil.which("makensis") is None:
        raise RuntimeError("makensis is not installed (Debian's nsis; scripts/setup installs it)")
    with tempfile.TemporaryDirectory() as stage:
        with open(os.path.join(stage, PRODUCT_FILE), "wb") as f:
            f.write(PRODUCT_CONTENT)
        script = os.path.join(stage, "installer.nsi")
        with open(script, "w", encoding="utf-8") as f:
            f.write(SCRIPT.format(product=product, out_exe=os.path.abspath(out_exe),
                                  xp_style="on" if xp_style else "off", uninstall_parent=UNINSTALL_PARENT,
                                  data_member=DATA_MEMBER, data_file=DATA_FILE, product_file=PRODUCT_FILE,
                                  uninstaller=UNINSTALLER, missing_exit=MISSING_DATA_EXIT_CODE))
        result = subprocess.run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", script], cwd=stage,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"makensis failed:\n{result.stdout}")
