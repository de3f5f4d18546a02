<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Nimbara</title>
</head>
<body>
<h1>Nimbara</h1>
<p>The demo application is running: nbmonitor started the web server, found it answering
and opened this page.</p>
<p>This start page holds no PHP code, so its bytes are the page whoever sends it: the demo's
stand-in server, which sends files as they are and runs no PHP, or Apache with PHP in a real
installation.</p>
<ul>
<li>Backup: <code>bin\nbctl.exe backup</code> has nbmonitor run <code>bin\nbbackup.bat</code>,
which copies <code>htdocs\data\app.db</code> into <code>backup\</code>.</li>
<li>Restore: <code>bin\nbctl.exe restore</code> opens the restore dialog.</li>
<li>Initialization: <code>bin\nbctl.exe initialize</code> deletes <code>htdocs\data\app.db</code>
(it asks first).</li>
</ul>
</body>
</html>
