import sys

from zr.batch import main

sys.exit(main())
