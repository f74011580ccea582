; The setup program and its uninstaller, once written: their PE checksum, and
; their signature when one is asked for (pe-finish).
!finalize '"${PE_FINISH}" "%1"'
!uninstfinalize '"${PE_FINISH}" "%1"'
