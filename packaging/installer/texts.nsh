; The installer's own texts, Japanese and English (NSIS gives the rest of its pages).
; Included by nbmonitor.nsi as UTF-8.

LangString NbStopping ${LANG_JAPANESE} "nbmonitor を終了しています (bin\nbctl.exe exit --wait)..."
LangString NbStopping ${LANG_ENGLISH} "Stopping nbmonitor (bin\nbctl.exe exit --wait)..."
LangString NbStillRuns ${LANG_JAPANESE} "nbmonitor が終了しないため、処理を中止しました。ファイルは変更していません。$\r$\nタスクトレイのアイコンから nbmonitor を終了してから、もう一度実行してください。"
LangString NbStillRuns ${LANG_ENGLISH} "nbmonitor did not end, so nothing was changed.$\r$\nExit nbmonitor from its tray icon, then run this again."
LangString NbRemoveData ${LANG_JAPANESE} "データも削除する (htdocs\data、backup、logs、conf\nbmonitor.ini)"
LangString NbRemoveData ${LANG_ENGLISH} "Remove the data too (htdocs\data, backup, logs, conf\nbmonitor.ini)"
