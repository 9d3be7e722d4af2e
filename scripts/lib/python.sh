# Sourced by the scripts that build or test the Python package. Debian's interpreter, where
# apt's NumPy, pandas and pytest live (a python3 first on PATH may be another one).
PYTHON=/usr/bin/python3
PYTHON_PACKAGES=(python3-numpy python3-pytest python3-pandas python3-matplotlib python3-venv)

# python_venv DIR WHEEL: a fresh virtual environment that sees Debian's packages, with the wheel
# installed from the file alone (nothing is downloaded).
python_venv() {
    "$PYTHON" -m venv --system-site-packages "$1" &&
        "$1/bin/python" -m pip install -q --no-index --disable-pip-version-check "$2"
}
