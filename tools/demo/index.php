<?php
// Start page of the nimbara demo application.
$db = __DIR__ . '/data/app.db';
?>
<!DOCTYPE html>
<html lang="ja">
<head><meta charset="utf-8"><title>Nimbara</title></head>
<body>
<h1>Nimbara</h1>
<p>The demo application is running.</p>
<p>Database: <?php echo file_exists($db) ? 'present' : 'missing (initialized)'; ?></p>
</body>
</html>
