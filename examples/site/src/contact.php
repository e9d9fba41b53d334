<?php
// Contact page. Strings in PHP code are compiled like HTML attributes, so
// $note below holds generated class names in out/contact.php. Comments in PHP
// code, like this one, are removed from the output.
$title = 'Contact';
$note = 'note !{color:#7a6a5a;font-size:.875rem}';
$sent = isset($_GET['sent']);
?>
<!DOCTYPE html>
<html lang="en">
<head>
  <meta charset="utf-8">
  <meta name="viewport" content="width=device-width, initial-scale=1">
  <title><?= $title ?> - SITE_NAME</title>
  <link rel="stylesheet" href="velt.css">
  <link rel="stylesheet" href="css/site.css">
</head>
<body class="!{margin:0;font-family:system-ui,sans-serif;color:#2b2118}">
  <main class="!{max-width:40rem;margin:0 auto;padding:1rem}">
    <h1 class="!{font-size:2rem;margin:0 0 1rem}"><?= $title ?></h1>
    <?php if ($sent): ?>
      <p class="!{padding:1rem;background:#e6f4ea;border-radius:4px}">Thank you, we will be in touch.</p>
    <?php endif; ?>
    <!-- One nested rule can list several selectors: input,textarea{...}. -->
    <form method="post" class="!{display:grid;gap:.75rem} !{input,textarea{padding:.5rem;font:inherit}}">
      <label for="email">Email</label>
      <input id="email" name="email" type="email" required>
      <label for="message">Message</label>
      <textarea id="message" name="message" rows="5"></textarea>
      <button class="!{padding:.5rem 1rem;border:0;background:#8a4b08;color:#fff} !:hover{background:#6d3b06}">Send</button>
    </form>
    <p class="<?= $note ?>">We answer within two days.</p>
  </main>
</body>
</html>
